#include "app/prompts.h"

#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace quarvel::app {

QString Prompts::OpenFile(QWidget* parent, const QString& filter, const QString& initial_name) {
  return QFileDialog::getOpenFileName(parent, QString(), initial_name, filter);
}

QString Prompts::SaveFile(QWidget* parent, const QString& filter, const QString& default_suffix) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(default_suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

void Prompts::Error(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox::critical(parent, caption, text);
}

void Prompts::Message(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QStringLiteral("Quarvel"), text);
}

bool Prompts::AskYesNo(QWidget* parent, const QString& text) {
  return QMessageBox::warning(parent, QStringLiteral("Quarvel"), text, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

QColor Prompts::PickColor(QWidget* parent, const QColor& initial) {
  return QColorDialog::getColor(initial, parent);
}

void Prompts::OpenFolder(const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); }

}  // namespace quarvel::app
