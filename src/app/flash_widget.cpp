#include "app/flash_widget.h"

#include <QActionGroup>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/qt_picture.h"

namespace quarvel::app {

namespace {
// Often enough for 50 fps movies; each tick runs the clock and repaints.
constexpr int kDriveIntervalMs = 20;
}

FlashWidget::FlashWidget(flash::MovieControl& control, const audio::Clock& clock, QWidget* parent)
    : QWidget(parent), control_(control), clock_(clock) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  resize(192, 192);
  control_.SetSize(192, 192);
  drive_.setInterval(kDriveIntervalMs);
  connect(&drive_, &QTimer::timeout, this, &FlashWidget::Tick);
  drive_.start();
}

void FlashWidget::Tick() {
  control_.AdvanceTo(clock_.NowMs());
  update();
}

void FlashWidget::GrabFrame(gdi::Bitmap& target) {
  control_.SetSize(width(), height());
  control_.Paint(target);
}

void FlashWidget::paintEvent(QPaintEvent*) {
  // On a scaled screen the movie is drawn at device pixels, sharp; grabs
  // for the capture stay at the widget's own size.
  const qreal dpr = devicePixelRatioF();
  if (dpr > 1.0) {
    control_.SetSize(qRound(width() * dpr), qRound(height() * dpr));
    control_.Paint(frame_);
    control_.SetSize(width(), height());
  } else {
    control_.Paint(frame_);
  }
  QPainter painter(this);
  QImage image = ToQImage(frame_);
  if (image.isNull()) {
    painter.fillRect(rect(), Qt::white);
  } else {
    if (show_alpha_) {
      // Our rows carry straight alpha in the fourth byte, as ARGB32 has it.
      image.reinterpretAsFormat(QImage::Format_ARGB32);
      constexpr int kSquare = 8;
      for (int y = 0; y < height(); y += kSquare)
        for (int x = 0; x < width(); x += kSquare)
          painter.fillRect(x, y, kSquare, kSquare, ((x + y) / kSquare) % 2 ? QColor(204, 204, 204) : Qt::white);
    }
    image.setDevicePixelRatio(dpr);
    painter.drawImage(QPointF(0, 0), image);
  }
}

void FlashWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  control_.SetSize(width(), height());
}

void FlashWidget::CatchUp() { control_.AdvanceTo(clock_.NowMs()); }

void FlashWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    emit MouseDown(Qt::LeftButton, p.x(), p.y());
    pressed_ = true;
    CatchUp();
    control_.MouseDown(p.x(), p.y());
    update();
  } else if (event->button() == Qt::RightButton) {
    pressed_ = true;
  }
}

void FlashWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    emit MouseUp(Qt::LeftButton, p.x(), p.y());
    // A release after a press on the control is a click.
    if (pressed_) emit Click();
    pressed_ = false;
    if (!lock_mouse_click_) {
      CatchUp();
      control_.MouseUp(p.x(), p.y());
      update();
    }
  } else if (event->button() == Qt::RightButton) {
    if (popup_ && pressed_) {
      pressed_ = false;
      popup_->popup(mapToGlobal(p));
    } else if (!lock_mouse_click_ && control_.Menu()) {
      QMenu* menu = ControlMenu(this);
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(mapToGlobal(p));
    }
  }
}

void FlashWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseMove(p.x(), p.y());
  CatchUp();
  control_.MouseMove(p.x(), p.y());
  setCursor(control_.OverButton() ? Qt::PointingHandCursor : Qt::ArrowCursor);
  update();
}

void FlashWidget::leaveEvent(QEvent* event) {
  pressed_ = false;
  control_.MouseLeave();
  unsetCursor();
  QWidget::leaveEvent(event);
}

std::optional<flash::FlashKey> FlashKeyOf(int qtKey, const QString& text) {
  int charCode = 0;
  if (text.size() == 1) charCode = text.at(0).unicode();
  const auto with = [&](int keyCode) { return flash::FlashKey{keyCode, charCode}; };
  // Letters and digits share their codes with Flash.
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) return with(qtKey);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return with(112 + (qtKey - Qt::Key_F1));
  switch (qtKey) {
    case Qt::Key_Space: return with(32);
    case Qt::Key_Return:
    case Qt::Key_Enter: return flash::FlashKey{13, 13};
    case Qt::Key_Escape: return flash::FlashKey{27, 27};
    case Qt::Key_Tab: return flash::FlashKey{9, 9};
    case Qt::Key_Backspace: return flash::FlashKey{8, 8};
    case Qt::Key_Delete: return flash::FlashKey{46, 127};
    case Qt::Key_Left: return with(37);
    case Qt::Key_Up: return with(38);
    case Qt::Key_Right: return with(39);
    case Qt::Key_Down: return with(40);
    case Qt::Key_Home: return with(36);
    case Qt::Key_End: return with(35);
    case Qt::Key_PageUp: return with(33);
    case Qt::Key_PageDown: return with(34);
    case Qt::Key_Insert: return with(45);
    case Qt::Key_Shift: return with(16);
    case Qt::Key_Control: return with(17);
    case Qt::Key_CapsLock: return with(20);
    default: break;
  }
  // Punctuation: by the key's unshifted character.
  if (qtKey > 0x20 && qtKey < 0x7F) {
    if (auto k = flash::KeyByName(std::string(1, static_cast<char>(qtKey)))) return flash::FlashKey{k->keyCode, charCode};
  }
  return std::nullopt;
}

void FlashWidget::keyPressEvent(QKeyEvent* event) {
  const auto key = FlashKeyOf(event->key(), event->text());
  if (!key) return QWidget::keyPressEvent(event);
  CatchUp();
  control_.KeyDown(key->keyCode, key->charCode);
  update();
}

void FlashWidget::keyReleaseEvent(QKeyEvent* event) {
  const auto key = FlashKeyOf(event->key(), event->text());
  // Auto-repeat sends a release before each repeated press; Flash repeats the press alone.
  if (!key || event->isAutoRepeat()) return QWidget::keyReleaseEvent(event);
  CatchUp();
  control_.KeyUp(key->keyCode, key->charCode);
  update();
}

QMenu* FlashWidget::ControlMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  const bool loaded = control_.ReadyState() == 4;
  QAction* play = menu->addAction("Play", this, [this] {
    if (control_.Playing()) control_.Stop();
    else control_.Play();
  });
  play->setCheckable(true);
  play->setChecked(loaded && control_.Playing());
  menu->addSeparator();
  QAction* rewind = menu->addAction("Rewind", this, [this] {
    control_.Stop();
    control_.GotoFrame(0);
  });
  QAction* forward = menu->addAction("Forward", this, [this] {
    control_.Stop();
    control_.GotoFrame(control_.CurrentFrame() + 1);
  });
  QAction* back = menu->addAction("Back", this, [this] {
    control_.Stop();
    control_.GotoFrame(control_.CurrentFrame() - 1);
  });
  for (QAction* a : {play, rewind, forward, back}) a->setEnabled(loaded);
  menu->addSeparator();
  QMenu* quality = menu->addMenu("Quality");
  auto* group = new QActionGroup(quality);
  for (const char* name : {"Low", "Medium", "High"}) {
    QAction* a = quality->addAction(name, this, [this, name] {
      control_.SetQuality(name);
      update();
    });
    a->setCheckable(true);
    a->setChecked(control_.QualityName() == name);
    group->addAction(a);
  }
  return menu;
}

}  // namespace quarvel::app
