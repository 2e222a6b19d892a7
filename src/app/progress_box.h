#pragma once
// "System Information": the box that long commands show their progress in.

#include <QWidget>

class QProgressBar;

namespace quarvel::app {

class ProgressBox : public QWidget {
  Q_OBJECT
 public:
  explicit ProgressBox(QWidget* parent = nullptr);

  // Position 0, shown (not modal), drawn.
  void Start();
  // Position 0 to 100.
  void SetProgress(int percent);
  void End();
  int Position() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QProgressBar* bar_;
};

}  // namespace quarvel::app
