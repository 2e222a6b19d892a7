#pragma once
// The main window: every control, the shared window state, the enabling of
// the command buttons, and the handlers of the commands.

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/player_host.h"
#include "avi/avi_writer.h"
#include "avi/save_to_avi.h"
#include "flash/movie_control.h"
#include "platform/audio/clock.h"
#include "platform/gdi/bitmap.h"
#include "sound/wave_recorder.h"

namespace quarvel::mci {
class Mci;
}
namespace quarvel::mixer {
class MixerDriver;
}

class QButtonGroup;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace quarvel::capture {
struct CropZoom;
class CaptureJob;
}

namespace quarvel::app {

class FlashWidget;
class ProgressBox;
class Prompts;
class GripButton;
class GifPreview;

// What the window works with; none of it is owned, all of it outlives the window.
struct WindowServices {
  flash::MovieControl& control;
  audio::Clock& clock;
  Prompts& prompts;
  ProgressBox& progress;
  mixer::MixerDriver& mixer;
  mci::Mci& mci;
};

// Where a window whose page is `content` goes on a screen: the frame
// inside the available area, the page scrolling where it must. The result
// is the client area.
QRect PlaceWindow(const QRect& screen, const QRect& available, const QMargins& frame, QSize content,
                  int scroll_bar);

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(const WindowServices& services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Shared window state.
  int CapturedFrameCount() const { return captured_frame_count_; }
  int ShownFrame() const { return shown_frame_; }
  bool StopRequested() const { return stop_requested_; }
  int MovieFps() const { return movie_fps_; }
  int MaxPlayerWidth() const { return max_player_width_; }
  int MaxPlayerHeight() const { return max_player_height_; }
  // How often the start-up work has run (once, half a second after creation).
  int StartupRuns() const { return startup_runs_; }
  // True while a capture, GIF build or AVI save runs.
  bool Busy() const { return busy_; }

  // Opens a movie as "Open" does after its dialog (for the command line and
  // drag and drop). A file the player cannot load is refused with its
  // error, and the window stays as it was; false then.
  bool OpenMovie(const QString& path);
  // The opened movie; empty when none is loaded.
  const QString& MoviePath() const { return movie_path_; }

  // Controls, for the tests and the screenshot script.
  FlashWidget* Player() const { return player_; }
  const PlayerArea& Area() const { return area_; }
  const gdi::Bitmap& FrameView() const { return frame_view_; }
  QLabel* PreviewImage() const { return preview_; }
  GifPreview* Preview() const { return gif_preview_; }

  // Runs the status timer's work once.
  void RefreshStatus();
  // One reported mouse move of a grip drag, the pointer at (x, y) in the grip.
  void GripPressed(int x, int y);
  void GripMoved(int x, int y);
  void GripReleased();

 // The pause after a movie is opened (1000 ms), shorter in tests.
  void SetOpenWaitMs(int ms) { open_wait_ms_ = ms; }

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLeftColumn(QWidget* central);
  void BuildRightSide(QWidget* central);
  void ApplyArea();
  // Fixed size when the screen has room, else as large as it allows.
  void FitToScreen();
  // The window manager's frame around the window; none before it is known.
  QMargins FrameMargins() const;
  void SetFrameLabel(const QString& text);
  void Pump();
  // Runs a handler; an exception's text is shown in a message box and the
  // handler is abandoned, as the application's default error handler does.
  void Guard(const std::function<void()>& handler);
  void StartupTick();
  void FitPlayerToMovie(const QString& path);
  void RunCloseSteps();

  // Commands.
  void OnOpen();
  void OnClose();
  void OnPlay();
  void OnStop();
  void OnPrev50();
  void OnNext50();
  void OnSeekReleased();
  void OnCaptureFrames();
  void RequestCaptureStop();
  void OnThumbnailSelected(QListWidgetItem* item);
  void OnPrevFrame();
  void OnNextFrame();
  void OnEditFrame();
  void OnCropChanged();
  void OnZoomChanged();
  void ApplyCropZoom();
  void ShowPreview(const gdi::Bitmap& picture);
  void ShowFramePicture(gdi::Bitmap picture, int frame_number);
  void ShowCapturedFrame();
  void UpdateCropLimits();
  // The save dialog, in the movie's folder (or the last one used) with the
  // movie's name and `extension` filled in; asks once about an existing
  // file. Empty when the user cancels or declines.
  // A path that cannot be written is refused there, as a failed save of
  // `what` ("GIF", "AVI", ...).
  QString ChooseSaveFile(const QString& filter, const QString& extension, const QString& what);
  void SavedTo(const QString& path);
  QString LabelFileName(const QString& path) const;
  // The frame label says which save failed; the message names the file and the cause.
  void SaveFailed(const QString& what, const QString& path, const QString& why);
  // Runs a save; an error ends it as a failed save (false).
  bool RunSave(const QString& what, const QString& path, const std::function<void()>& save);
  void OnColorChosen(int index);
  void OnGetSoundFile();
  void OnRecordingLineChanged(int index);
  void OnRecordingVolumeChanged(int position);
  void OnWaveOutVolumeChanged(int position);
  void OnMasterVolumeChanged(int position);
  void FillCodecBox(const avi::CodecBox& box);
  void OnBitDepthChanged(int index);
  void OnQualityChanged(int index);
  void OnCodecChanged(int index);
  void OnAdvance();
  void OnSaveAvi();
  void OnSaveMp3();
  void BuildVideoPage();
  void OnSaveVideo();
  void BuildGif();
  void OnPreviewGif();
  void OnSaveGif();
  capture::CropZoom CurrentCropZoom() const;
  std::int32_t ChosenBackground() const;
  // The colour list's "Transparent": the movie is drawn and captured with alpha.
  bool ChosenTransparent() const;
  void BeginLongCommand();
  void EndLongCommand();

  flash::MovieControl& control_;
  audio::Clock& clock_;
  Prompts& prompts_;
  ProgressBox& progress_;
  mixer::MixerDriver& mixer_;
  sound::WaveRecorder recorder_;
  avi::TAviWriter_2 avi_writer_;
  avi::CodecBox codec_box_;

  int captured_frame_count_ = 0;
  int shown_frame_ = 0;
  bool stop_requested_ = false;
  int movie_fps_ = 0;
  int max_player_width_ = 0;
  int max_player_height_ = 0;
  int startup_runs_ = 0;
  bool busy_ = false;
  bool fitted_after_show_ = false;
  QMargins fitted_frame_;  // the frame the window was last fitted for
  QString movie_path_;
  QString previous_movie_;  // what the player held before the opened movie
  QString captured_movie_;     // the movie whose frames the store holds
  QString save_folder_;       // the folder last saved into,
  QString save_folder_movie_;  // for this movie's frames
  bool close_pending_ = false;
  capture::CaptureJob* active_session_ = nullptr;
  bool closing_done_ = false;
  int open_wait_ms_ = 1000;

  PlayerArea area_;
  bool grip_dragging_ = false;
  int grip_dx0_ = 0, grip_dy0_ = 0;

  gdi::Bitmap frame_view_;
  gdi::Bitmap capture_buffer_;

  QTimer status_timer_;
  QTimer startup_timer_;

  // Left column.
  QPushButton* open_button_ = nullptr;
  QPushButton* close_button_ = nullptr;
  QComboBox* color_box_ = nullptr;
  QColor custom_color_;
  QLineEdit* name_box_ = nullptr;
  QScrollArea* player_box_ = nullptr;
  QWidget* player_canvas_ = nullptr;
  FlashWidget* player_ = nullptr;
  GripButton* grip_ = nullptr;
  QSlider* seek_bar_ = nullptr;
  QLabel* status_line_ = nullptr;
  QPushButton* play_button_ = nullptr;
  QPushButton* stop_button_ = nullptr;
  QPushButton* prev50_button_ = nullptr;
  QPushButton* next50_button_ = nullptr;
  QSlider* record_volume_ = nullptr;
  QSlider* wave_volume_ = nullptr;
  QSlider* master_volume_ = nullptr;
  QComboBox* sound_device_ = nullptr;
  QComboBox* sound_quality_ = nullptr;

  // Right side.
  QTabWidget* outer_pages_ = nullptr;
  QPushButton* capture_button_ = nullptr;
  QPushButton* sound_file_button_ = nullptr;
  QSpinBox* latency_ = nullptr;
  QCheckBox* frame_exact_ = nullptr;
  QScrollArea* frame_area_ = nullptr;
  QLabel* preview_ = nullptr;
  GifPreview* gif_preview_ = nullptr;
  QLabel* frame_label_ = nullptr;
  QPushButton* prev_button_ = nullptr;
  QPushButton* next_button_ = nullptr;
  QPushButton* edit_frame_button_ = nullptr;
  QRadioButton* true_color_ = nullptr;
  QTabWidget* inner_pages_ = nullptr;
  QListWidget* thumbnails_ = nullptr;
  QSpinBox* crop_top_ = nullptr;
  QSpinBox* crop_left_ = nullptr;
  QSpinBox* crop_right_ = nullptr;
  QSpinBox* crop_bottom_ = nullptr;
  QSpinBox* zoom_ = nullptr;
  QLabel* zoom_label_ = nullptr;
  QRadioButton* nearest_ = nullptr;
  QRadioButton* floyd_ = nullptr;
  QRadioButton* best_quality_ = nullptr;
  QRadioButton* smaller_size_ = nullptr;
  QRadioButton* gray_scale_ = nullptr;
  QRadioButton* colors256_ = nullptr;
  QCheckBox* optimize_gif_ = nullptr;
  QPushButton* preview_gif_button_ = nullptr;
  QPushButton* save_gif_button_ = nullptr;
  QComboBox* bit_depth_ = nullptr;
  QComboBox* quality_ = nullptr;
  QComboBox* codec_ = nullptr;
  QPushButton* advance_button_ = nullptr;
  QCheckBox* audio_ = nullptr;
  QPushButton* save_avi_button_ = nullptr;
  QComboBox* bit_rate_ = nullptr;
  QPushButton* save_mp3_button_ = nullptr;
  QComboBox* video_format_ = nullptr;
  QComboBox* video_quality_ = nullptr;
  QCheckBox* video_audio_ = nullptr;
  bool video_audio_wanted_ = true;  // the user's choice, kept while a format holds no sound
  QPushButton* save_video_button_ = nullptr;
  bool capture_alpha_ = false;  // the last capture kept a transparent background

  friend class MainWindowTestAccess;
};

}  // namespace quarvel::app
