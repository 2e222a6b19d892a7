#include "app/prompts.h"

#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

namespace quarvel::app {

QString Prompts::OpenFile(QWidget* parent, const QString& filter, const QString& initial_name) {
  return QFileDialog::getOpenFileName(parent, QString(), initial_name, filter);
}

QString Prompts::SaveFile(QWidget* parent, const QString& filter, const QString& default_suffix,
                          const QString& initial_path) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(default_suffix);
  if (!initial_path.isEmpty()) {
    const QFileInfo initial(initial_path);
    dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
  }
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

bool Prompts::CompressorSettings(QWidget* parent, const QString& compressor, int& bit_rate_kbps,
                                 int& key_frame_interval) {
  QDialog dialog(parent);
  dialog.setWindowTitle(compressor);
  auto* form = new QFormLayout(&dialog);
  auto* rate = new QSpinBox(&dialog);
  rate->setRange(0, 100000);
  rate->setSuffix(QStringLiteral(" kbit/s"));
  rate->setSpecialValueText(QStringLiteral("By quality"));
  rate->setValue(bit_rate_kbps);
  auto* keys = new QSpinBox(&dialog);
  keys->setRange(0, 10000);
  keys->setSpecialValueText(QStringLiteral("Default"));
  keys->setValue(key_frame_interval);
  form->addRow(QStringLiteral("Data rate:"), rate);
  form->addRow(QStringLiteral("Key frame every (frames):"), keys);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  bit_rate_kbps = rate->value();
  key_frame_interval = keys->value();
  return true;
}

bool Prompts::OpenFolder(const QString& path) {
  // The desktop's opener, run so that its failure is seen: it ends at once
  // with an error when no program handles folders, and otherwise usually
  // once the file browser has started. One still running is left to run.
  auto* opener = new QProcess;
  opener->setProcessChannelMode(QProcess::ForwardedChannels);
  opener->start(QStringLiteral("xdg-open"), {path});
  if (!opener->waitForStarted(3000)) {
    delete opener;
    return false;
  }
  if (!opener->waitForFinished(3000)) {
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    return true;
  }
  const bool opened = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
  delete opener;
  return opened;
}

}  // namespace quarvel::app
