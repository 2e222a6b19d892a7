#include "app/progress_box.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>

namespace quarvel::app {

ProgressBox::ProgressBox(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("System Information"));
  setFixedSize(281, 74);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(231, 231, 231));
  setPalette(pal);
  bar_ = new QProgressBar(this);
  bar_->setGeometry(8, 48, 265, 12);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  bar_->setTextVisible(true);
  bar_->setAlignment(Qt::AlignCenter);
  bar_->setFormat(QStringLiteral("%p%"));
}

void ProgressBox::Start() {
  bar_->setValue(0);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->geometry();
    move(r.x() + (r.width() - width()) / 2, r.y() + (r.height() - height()) / 2);
  }
  show();
  raise();
  QCoreApplication::processEvents();
}

void ProgressBox::SetProgress(int percent) {
  bar_->setValue(percent < 0 ? 0 : percent > 100 ? 100 : percent);
  QCoreApplication::processEvents();
}

void ProgressBox::End() {
  hide();
  QCoreApplication::processEvents();
}

int ProgressBox::Position() const { return bar_->value(); }

void ProgressBox::closeEvent(QCloseEvent* event) {
  // The box has no close button and the user cannot close it.
  if (event->spontaneous()) event->ignore();
}

}  // namespace quarvel::app
