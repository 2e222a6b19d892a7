#include "app/flash_widget.h"

#include <QMouseEvent>
#include <QPainter>

#include "app/qt_picture.h"

namespace quarvel::app {

namespace {
// Often enough for 50 fps movies; each tick runs the clock and repaints.
constexpr int kDriveIntervalMs = 20;
}

FlashWidget::FlashWidget(MovieControl& control, const audio::Clock& clock, QWidget* parent)
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
  control_.Paint(frame_);
  QPainter painter(this);
  const QImage image = ToQImage(frame_);
  if (image.isNull()) {
    painter.fillRect(rect(), Qt::white);
  } else {
    painter.drawImage(0, 0, image);
  }
}

void FlashWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  control_.SetSize(width(), height());
}

void FlashWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    emit MouseDown(Qt::LeftButton, p.x(), p.y());
    pressed_ = true;
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
  } else if (event->button() == Qt::RightButton) {
    if (popup_ && pressed_) {
      pressed_ = false;
      popup_->popup(mapToGlobal(p));
    }
  }
}

void FlashWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseMove(p.x(), p.y());
}

void FlashWidget::leaveEvent(QEvent* event) {
  pressed_ = false;
  QWidget::leaveEvent(event);
}

}  // namespace quarvel::app
