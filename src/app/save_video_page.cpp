// The "Save Video" page: the frame store and the recording as MP4, WebM,
// animated WebP or animated PNG, with the crop and zoom of the other pages.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include <array>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "platform/paths/working_folder.h"
#include "video_out/video_writer.h"

namespace quarvel::app {
namespace {

struct VideoEntry {
  const char* label;
  const char* format;  // video_out::FormatForName
  const char* filter;
  const char* extension;
  // CRF (MP4, WebM) or quality (WebP) for Best, High, Medium, Low; -1: lossless.
  std::array<int, 4> levels;
};

constexpr std::array<VideoEntry, 4> kVideoEntries = {{
    {"MP4 (H.264, AAC)", "mp4", "*.mp4 (*.mp4);;All Files (*)", "mp4", {12, 18, 23, 28}},
    {"WebM (VP9, Opus)", "webm", "*.webm (*.webm);;All Files (*)", "webm", {10, 24, 32, 40}},
    {"WebP (animated)", "webp", "*.webp (*.webp);;All Files (*)", "webp", {-1, 90, 75, 50}},
    {"APNG (animated PNG)", "apng", "*.png (*.png *.apng);;All Files (*)", "png", {-1, -1, -1, -1}},
}};

constexpr int kDefaultVideoQuality = 2;  // Medium

}  // namespace

void MainWindow::BuildVideoPage() {
  auto* page = new QWidget;
  video_format_ = new QComboBox(page);
  video_format_->setObjectName(QStringLiteral("videoFormat"));
  for (const VideoEntry& e : kVideoEntries) video_format_->addItem(QString::fromLatin1(e.label));
  video_format_->setGeometry(8, 8, 180, 24);
  video_quality_ = new QComboBox(page);
  video_quality_->setObjectName(QStringLiteral("videoQuality"));
  video_quality_->addItems({QStringLiteral("Best Quality"), QStringLiteral("High Quality"),
                            QStringLiteral("Medium Quality"), QStringLiteral("Low Quality")});
  video_quality_->setCurrentIndex(kDefaultVideoQuality);
  video_quality_->setGeometry(196, 8, 150, 24);
  video_audio_ = new QCheckBox(QStringLiteral("Audio"), page);
  video_audio_->setObjectName(QStringLiteral("videoAudio"));
  video_audio_->setChecked(true);
  video_audio_->setGeometry(8, 40, 80, 20);
  auto* note = new QLabel(QStringLiteral("WebM, WebP and APNG keep a transparent background; WebP and APNG hold no sound"),
                          page);
  note->setWordWrap(true);
  note->setGeometry(8, 64, 400, 36);
  save_video_button_ = new QPushButton(QStringLiteral("Save Video"), page);
  save_video_button_->setObjectName(QStringLiteral("saveVideo"));
  save_video_button_->setGeometry(8, 104, 100, 25);
  save_video_button_->setEnabled(false);
  // APNG is lossless whatever the box says; WebP and APNG hold no sound.
  const auto follow = [this](int index) {
    const std::string format = kVideoEntries[std::size_t(index)].format;
    video_quality_->setEnabled(format != "apng");
    // Where the format holds no sound the box shows none; the user's choice
    // comes back with a format that does.
    const bool sound = format == "mp4" || format == "webm";
    if (video_audio_->isEnabled()) video_audio_wanted_ = video_audio_->isChecked();
    video_audio_->setEnabled(sound);
    video_audio_->setChecked(sound && video_audio_wanted_);
  };
  connect(video_format_, &QComboBox::currentIndexChanged, this, follow);
  connect(save_video_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnSaveVideo(); }); });
  // Beside "Capture Frames&Save": its own tab row is full.
  outer_pages_->addTab(page, QStringLiteral("Save Video"));
}

void MainWindow::OnSaveVideo() {
  if (busy_) return;
  const VideoEntry& entry = kVideoEntries[std::size_t(std::max(0, video_format_->currentIndex()))];
  video_out::VideoWriteOptions options;
  options.format = *video_out::FormatForName(entry.format);
  options.request.alpha = capture_alpha_;
  const int level = entry.levels[std::size_t(std::max(0, video_quality_->currentIndex()))];
  if (options.format.container == video_out::Container::kWebp) {
    if (level >= 0) options.request.quality = level;
  } else if (level >= 0) {
    options.request.crf = level;
  }
  // A request the format cannot hold is refused before the file dialog.
  video_out::CheckRequest(options.format, options.request, "Save Video");
  if (captured_frame_count_ <= 0) {
    prompts_.Message(this, QStringLiteral("No images selected."));
    return;
  }
  const QString path = ChooseSaveFile(QString::fromLatin1(entry.filter), QString::fromLatin1(entry.extension),
                                      QStringLiteral("Video"));
  if (path.isEmpty()) return;
  const std::filesystem::path out = path.toStdString();
  options.shown = out;
  options.output = out.parent_path() / ("~VTemp" + out.filename().string());
  options.frame_count = captured_frame_count_;
  options.latency_ms = latency_->value();
  options.crop_zoom = CurrentCropZoom();
  QString note;
  const bool holds_sound = !options.format.audio_codec.empty();
  if (holds_sound && video_audio_->isChecked()) {
    if (std::filesystem::exists(paths::RecordingFilePath())) {
      recorder_.Close();
      options.recording = paths::RecordingFilePath();
    } else {
      note = QStringLiteral("There is no recording (%1), so the video is saved without sound.")
                 .arg(QString::fromStdString(paths::RecordingFilePath().string()));
    }
  }
  video_out::VideoWriteCallbacks callbacks;
  const long long total = options.frame_count;
  callbacks.progress = [this, total](long long done) {
    SetFrameLabel(QStringLiteral("%1/%2").arg(done).arg(total));
    progress_.SetProgress(int(done * 100 / total));
  };
  callbacks.note = [&note](const std::string& text) {
    note += (note.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(text);
  };
  BeginLongCommand();
  progress_.Start();
  const bool saved = RunSave(QStringLiteral("Video"), path, [&] {
    std::error_code ec;
    try {
      video_out::WriteVideo(options, callbacks);
      std::filesystem::rename(options.output, out, ec);
      if (ec) throw video_out::VideoError(out.string() + ": cannot write: " + ec.message());
    } catch (...) {
      // No half-written file stays beside the user's.
      std::filesystem::remove(options.output, ec);
      progress_.End();
      EndLongCommand();
      throw;
    }
  });
  if (!saved) return;
  progress_.End();
  EndLongCommand();
  SetFrameLabel(QStringLiteral("Video Done"));
  SavedTo(path);
  if (!note.isEmpty()) prompts_.Message(this, note);
}

}  // namespace quarvel::app
