#include "app/flash_widget.h"

#include <QActionGroup>
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
