// "Capture Frames": the window's side of the capture job.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include "app/flash_widget.h"
#include "app/main_window.h"
#include "app/qt_picture.h"
#include "capture/capture_job.h"
#include "platform/audio/steered_clock.h"

namespace quarvel::app {
namespace {

constexpr int kPcmRecordingEntry = 3;  // "PCM 44100Hz x2(MP3)"

// "Frame-exact (offline)": the desktop's clock follows a virtual clock for
// the capture, as the command line's does, and real time resumes after it.
class OfflineTime {
 public:
  OfflineTime(audio::Clock& clock, bool wanted) : steered_(dynamic_cast<audio::SteeredClock*>(&clock)) {
    if (wanted && steered_ != nullptr) {
      capture_clock_ = &steered_->Steer();
    } else {
      steered_ = nullptr;
      capture_clock_ = &clock;
    }
  }
  ~OfflineTime() {
    if (steered_ != nullptr) steered_->Release();
  }
  OfflineTime(const OfflineTime&) = delete;
  OfflineTime& operator=(const OfflineTime&) = delete;
  audio::Clock& CaptureClock() { return *capture_clock_; }

 private:
  audio::SteeredClock* steered_;
  audio::Clock* capture_clock_;
};

}  // namespace

void MainWindow::OnCaptureFrames() {
  if (busy_ || movie_path_.isEmpty()) return;
  capture::CaptureJob* session = nullptr;
  capture::CaptureCallbacks callbacks;
  // Grabs go through the widget, at its size.
  callbacks.grab = [this](gdi::Bitmap& target) { player_->GrabFrame(target); };
  callbacks.pump = [this] { Pump(); };
  callbacks.latency = [this] { return latency_->value(); };
  callbacks.label = [this, &session](const std::string& text) {
    captured_frame_count_ = static_cast<int>(session->CapturedFrameCount());
    SetFrameLabel(QString::fromStdString(text));
  };
  callbacks.started = [this] {
    captured_movie_ = movie_path_;
    preview_gif_button_->setEnabled(true);
    save_gif_button_->setEnabled(true);
    save_avi_button_->setEnabled(true);
    save_mp3_button_->setEnabled(sound_quality_->currentIndex() == kPcmRecordingEntry);
    save_video_button_->setEnabled(true);
    capture_button_->setEnabled(false);
    outer_pages_->setEnabled(false);
    close_button_->setEnabled(false);
  };
  callbacks.clear_thumbnails = [this] { thumbnails_->clear(); };
  callbacks.frame_view = [this](long long n, const gdi::Bitmap& frame) {
    shown_frame_ = static_cast<int>(n);
    frame_view_ = frame;
    ApplyCropZoom();
  };
  callbacks.thumbnail = [this](long long n, const gdi::Bitmap& picture) {
    const QImage image = capture_alpha_ ? ToQImageOverChecks(picture) : ToQImage(picture);
    auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(image)), QString::number(n));
    item->setTextAlignment(Qt::AlignHCenter);
    thumbnails_->addItem(item);
  };
  callbacks.finished = [this] {
    ApplyCropZoom();
    capture_button_->setEnabled(true);
    outer_pages_->setEnabled(true);
    close_button_->setEnabled(true);
  };
  OfflineTime time(clock_, frame_exact_->isChecked());
  capture::CaptureJob run(control_, time.CaptureClock(), {&recorder_, [this] { return sound_quality_->currentIndex(); }},
                          std::move(callbacks));
  // "Transparent" in the colour list: frames with alpha, compared with it.
  capture_alpha_ = ChosenTransparent();
  control_.SetTransparent(capture_alpha_);
  player_->SetShowAlpha(capture_alpha_);
  capture::CaptureLimits limits;
  limits.alpha = capture_alpha_;
  run.SetLimits(limits);
  session = &run;
  active_session_ = &run;
  BeginLongCommand();
  try {
    run.Run(movie_path_.toStdString());
  } catch (...) {
    captured_frame_count_ = static_cast<int>(run.CapturedFrameCount());
    active_session_ = nullptr;
    EndLongCommand();
    throw;
  }
  captured_frame_count_ = static_cast<int>(run.CapturedFrameCount());
  active_session_ = nullptr;
  EndLongCommand();
}

void MainWindow::RequestCaptureStop() {
  if (active_session_ != nullptr) active_session_->RequestStop();
}

}  // namespace quarvel::app
