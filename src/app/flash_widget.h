#pragma once
// The player control as a widget: paints the player's picture, drives the
// player's clock while the window runs, and turns mouse messages into the
// mouse-down / mouse-up / mouse-move / click events of the extended control.

#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "flash/key_names.h"
#include "flash/movie_control.h"
#include "platform/audio/clock.h"
#include "platform/gdi/bitmap.h"

namespace quarvel::app {

// A Qt key as Flash numbers it (key code, and the character typed, from
// the event's text); nullopt for keys Flash has no code for.
std::optional<flash::FlashKey> FlashKeyOf(int qtKey, const QString& text);

class FlashWidget : public QWidget {
  Q_OBJECT
 public:
  // Neither the control nor the clock is owned; both outlive the widget.
  FlashWidget(flash::MovieControl& control, const audio::Clock& clock, QWidget* parent = nullptr);

  flash::MovieControl& Control() { return control_; }

  // Shown on a right-button release after a right-button press; not owned.
  void SetPopupMenu(QMenu* menu) { popup_ = menu; }
  bool Pressed() const { return pressed_; }
  // Button releases then stay with the widget and never reach the control.
  bool LockMouseClick() const { return lock_mouse_click_; }
  void SetLockMouseClick(bool lock) { lock_mouse_click_ = lock; }
  // The movie is drawn without a background: show its alpha over a checkerboard.
  void SetShowAlpha(bool show) {
    show_alpha_ = show;
    update();
  }

  // The control's own context menu ("Play", "Rewind", ..., "Quality"), as it
  // shows on a right click when no popup menu is set and Menu() reads true.
  // Made afresh each time; the caller owns it.
  QMenu* ControlMenu(QWidget* parent);

  // The control draws its current picture, at its own size, into `target`
  // (so windows covering the player do not matter).
  void GrabFrame(gdi::Bitmap& target);

  // Runs the player's clock forward to now and repaints.
  void Tick();

 signals:
  void MouseDown(Qt::MouseButton button, int x, int y);
  void MouseUp(Qt::MouseButton button, int x, int y);
  void MouseMove(int x, int y);
  void Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  flash::MovieControl& control_;
  const audio::Clock& clock_;
  QTimer drive_;
  gdi::Bitmap frame_;
  // The control's picture at the clock's present, before it takes a message.
  void CatchUp();

  bool pressed_ = false;
  bool show_alpha_ = false;
  bool lock_mouse_click_ = false;
  QPointer<QMenu> popup_;
};

}  // namespace quarvel::app
