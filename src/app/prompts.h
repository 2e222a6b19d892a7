#pragma once
// The dialogs and message boxes that commands show. The window asks through
// this, so that tests answer in place of a user.

#include <QColor>
#include <QString>

class QWidget;

namespace quarvel::app {

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A chosen path, or an empty string when the user cancels.
  virtual QString OpenFile(QWidget* parent, const QString& filter, const QString& initial_name);
  // Starts at initial_path (folder and name); does not ask about an
  // existing file, the caller does.
  virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& default_suffix,
                           const QString& initial_path);
  // A message box with the error icon and an OK button.
  virtual void Error(QWidget* parent, const QString& caption, const QString& text);
  // A plain message box with the product's name as caption.
  virtual void Message(QWidget* parent, const QString& text);
  // A warning box with Yes and No; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text);
  // Invalid colour when the user cancels.
  virtual QColor PickColor(QWidget* parent, const QColor& initial);
  // A compressor's own settings; true when the user accepted. A bit rate of
  // 0 follows the quality, a key-frame interval of 0 the save's default.
  virtual bool CompressorSettings(QWidget* parent, const QString& compressor, int& bit_rate_kbps,
                                  int& key_frame_interval);
  // Opens a folder in the desktop's file browser (through xdg-open); false
  // when no program could open it.
  virtual bool OpenFolder(const QString& path);
};

}  // namespace quarvel::app
