#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStyle>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "app/flash_widget.h"
#include "app/gif_preview.h"
#include "app/jpeg_picture.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "app/qt_picture.h"
#include "capture/crop_zoom.h"
#include "flash/player_fit.h"
#include "gif/animation_builder.h"
#include "gif/gif_optimizer.h"
#include "platform/vfw/compressors.h"
#include "sound/mixer_setup.h"
#include "sound/mp3_export.h"
#include "sound/sound_extractor.h"
#include "capture/frame_store.h"
#include "platform/paths/working_folder.h"

namespace quarvel::app {

// The "<>" button at the player area's corner; it keeps the mouse while its
// button is held, as a grip does.
class GripButton : public QPushButton {
 public:
  GripButton(MainWindow* window, QWidget* parent) : QPushButton(QStringLiteral("<>"), parent), window_(window) {
    setObjectName(QStringLiteral("grip"));
    setFixedSize(15, 14);
    setFocusPolicy(Qt::NoFocus);
    // The largest font whose "<>" fits inside the bevel.
    QFont small = font();
    for (int px = 10; px >= 5; --px) {
      small.setPixelSize(px);
      const QFontMetrics fm(small);
      if (fm.horizontalAdvance(text()) <= width() - 2 && fm.ascent() <= height() - 2) break;
    }
    setFont(small);
  }

 protected:
  // A plain bevel: a styled button face would leave no room for the text.
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect r = rect();
    painter.fillRect(r, palette().button());
    painter.setPen(isDown() ? palette().dark().color() : palette().light().color());
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(isDown() ? palette().light().color() : palette().dark().color());
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    painter.setPen(palette().buttonText().color());
    painter.setFont(font());
    painter.drawText(r, Qt::AlignCenter, text());
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      const QPoint p = event->position().toPoint();
      window_->GripPressed(p.x(), p.y());
    }
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    const QPoint p = event->position().toPoint();
    window_->GripMoved(p.x(), p.y());
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) window_->GripReleased();
  }

 private:
  MainWindow* window_;
};

namespace {

// Narrow enough that the page with a vertical scroll bar beside it fits
// across a screen of 960 logical pixels (1920 at 2x).
constexpr int kWindowWidth = 928;
constexpr const char* kNoMovieText = "No movie loaded";
constexpr int kMaxCropMargin = 999;
constexpr int kWindowHeight = 621;
// A title bar and borders, assumed until the window manager's are known.
constexpr QMargins kAssumedFrame(4, 30, 4, 4);

struct NamedColor {
  const char* name;
  QRgb rgb;
};

// The standard colours of the colour box, then its custom entry.
constexpr NamedColor kStandardColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x800000}, {"Green", 0x008000}, {"Olive", 0x808000},
    {"Navy", 0x000080},   {"Purple", 0x800080}, {"Teal", 0x008080},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},    {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF}, {"White", 0xFFFFFF},
};
// "Transparent" comes between the standard colours and "Custom...".
constexpr int kCustomColorIndex = static_cast<int>(std::size(kStandardColors)) + 1;

QPushButton* MakeButton(const QString& caption, const char* name, QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

QSpinBox* MakeSpin(int min, int max, int step, int value, const char* name, QWidget* parent) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(min, max);
  spin->setSingleStep(step);
  spin->setValue(value);
  return spin;
}

QSlider* MakeVolume(const char* name, QWidget* parent) {
  auto* slider = new QSlider(Qt::Horizontal, parent);
  slider->setObjectName(QString::fromLatin1(name));
  slider->setRange(0, 100);
  slider->setTickInterval(5);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setValue(0);
  return slider;
}

QComboBox* MakeList(const QStringList& items, int selected, const char* name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->addItems(items);
  box->setCurrentIndex(selected);
  return box;
}

// Why `path` cannot be written ("<path>: cannot write: <cause>"), or an
// empty string when it can. Tried by creating it (and taking it away
// again), so every cause the system knows is found before any work is done.
QString CannotWrite(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  const bool created = fd >= 0;
  if (!created && errno == EEXIST) fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return QStringLiteral("%1: cannot write: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
  ::close(fd);
  if (created) ::unlink(name.constData());
  return {};
}

QRadioButton* MakeOption(const QString& caption, const char* name, QWidget* parent) {
  auto* option = new QRadioButton(caption, parent);
  option->setObjectName(QString::fromLatin1(name));
  return option;
}

}  // namespace

MainWindow::MainWindow(const WindowServices& services, QWidget* parent)
    : QMainWindow(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      control_(services.control),
      clock_(services.clock),
      prompts_(services.prompts),
      progress_(services.progress),
      mixer_(services.mixer),
      recorder_(services.mci) {
  // "Advance" shows the chosen compressor's settings through our dialogs.
  vfw::SetConfigureDialog([this](vfw::HWND, const vfw::Compressor& compressor, vfw::CompressorSettings& settings) {
    int kbps = settings.bit_rate / 1000;
    int keys = settings.key_frame_interval;
    const QString title = QString::fromStdString(compressor.description.empty() ? compressor.name
                                                                                : compressor.description);
    if (!prompts_.CompressorSettings(this, title, kbps, keys)) return false;
    settings.bit_rate = kbps * 1000;
    settings.key_frame_interval = keys;
    return true;
  });
  recorder_.SetMessageSink([this](const sound::RecorderMessage& m) {
    prompts_.Error(this, QString::fromStdString(m.caption), QString::fromStdString(m.text));
  });
  setWindowTitle(QStringLiteral("Quarvel"));
  setAcceptDrops(true);
  QFont font = this->font();
  font.setPointSize(8);
  setFont(font);
  // The controls keep their places on a page of fixed size; on a screen too
  // small for it (a large scale factor) the window shrinks and scrolls.
  auto* central = new QWidget;
  central->setObjectName(QStringLiteral("content"));
  central->setFixedSize(kWindowWidth, kWindowHeight);
  central->setAutoFillBackground(true);
  QPalette pal = central->palette();
  pal.setColor(QPalette::Window, QColor(251, 251, 251));
  central->setPalette(pal);
  auto* scroller = new QScrollArea(this);
  scroller->setObjectName(QStringLiteral("contentScroller"));
  scroller->setFrameShape(QFrame::NoFrame);
  scroller->setWidgetResizable(false);
  scroller->setWidget(central);
  setCentralWidget(scroller);
  BuildLeftColumn(central);
  BuildRightSide(central);

  // Window creation: centre, first pages, player limits, start-up timer.
  FitToScreen();
  outer_pages_->setCurrentIndex(0);
  inner_pages_->setCurrentIndex(0);
  max_player_width_ = 1024;
  max_player_height_ = 1024;
  startup_timer_.setInterval(500);
  connect(&startup_timer_, &QTimer::timeout, this, &MainWindow::StartupTick);
  startup_timer_.start();
  status_timer_.setInterval(1000);
  connect(&status_timer_, &QTimer::timeout, this, [this] { Guard([this] { RefreshStatus(); }); });
  status_timer_.start();
}

MainWindow::~MainWindow() { vfw::SetConfigureDialog({}); }

void MainWindow::BuildLeftColumn(QWidget* central) {
  open_button_ = MakeButton(QStringLiteral("Open"), "open", central);
  open_button_->setGeometry(8, 8, 75, 25);
  connect(open_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnOpen(); }); });
  close_button_ = MakeButton(QStringLiteral("Close"), "close", central);
  close_button_->setGeometry(88, 8, 75, 25);
  close_button_->setEnabled(false);
  connect(close_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnClose(); }); });

  auto* color_label = new QLabel(QStringLiteral("Background Color:"), central);
  color_label->setGeometry(172, 12, 116, 17);
  color_box_ = new QComboBox(central);
  color_box_->setObjectName(QStringLiteral("backgroundColor"));
  color_box_->setGeometry(290, 8, 183, 25);
  for (const NamedColor& c : kStandardColors) {
    QPixmap swatch(12, 12);
    swatch.fill(QColor::fromRgb(c.rgb));
    color_box_->addItem(QIcon(swatch), QString::fromLatin1(c.name), QColor::fromRgb(c.rgb));
  }
  {
    // After the standard colours, so that they keep their places.
    QPixmap checks(12, 12);
    checks.fill(Qt::white);
    QPainter paint(&checks);
    paint.fillRect(0, 0, 6, 6, Qt::lightGray);
    paint.fillRect(6, 6, 6, 6, Qt::lightGray);
    color_box_->addItem(QIcon(checks), QStringLiteral("Transparent"), QColor(Qt::transparent));
  }
  color_box_->addItem(QStringLiteral("Custom..."));
  color_box_->setCurrentIndex(0);
  connect(color_box_, &QComboBox::activated, this, &MainWindow::OnColorChosen);

  auto* name_label = new QLabel(QStringLiteral("SWF Name:"), central);
  name_label->setGeometry(8, 46, 76, 17);
  name_box_ = new QLineEdit(QStringLiteral("Open file"), central);
  name_box_->setObjectName(QStringLiteral("swfName"));
  name_box_->setReadOnly(true);
  name_box_->setGeometry(86, 42, 387, 25);

  player_box_ = new QScrollArea(central);
  player_box_->setObjectName(QStringLiteral("playerArea"));
  player_box_->setGeometry(8, 80, 465, 385);
  player_box_->setWidgetResizable(false);
  player_canvas_ = new QWidget;
  player_ = new FlashWidget(control_, clock_, player_canvas_);
  player_->setObjectName(QStringLiteral("player"));
  grip_ = new GripButton(this, player_canvas_);
  player_box_->setWidget(player_canvas_);
  ApplyArea();

  seek_bar_ = new QSlider(Qt::Horizontal, central);
  seek_bar_->setObjectName(QStringLiteral("seekBar"));
  seek_bar_->setGeometry(8, 468, 465, 24);
  seek_bar_->setRange(0, 10);
  seek_bar_->setValue(0);
  seek_bar_->setTickPosition(QSlider::TicksBelow);
  seek_bar_->setTickInterval(1);
  seek_bar_->setPageStep(2);
  seek_bar_->setSingleStep(1);
  seek_bar_->installEventFilter(this);

  status_line_ = new QLabel(QStringLiteral("Waiting ..."), central);
  status_line_->setObjectName(QStringLiteral("statusLine"));
  status_line_->setGeometry(8, 494, 208, 17);

  play_button_ = MakeButton(QStringLiteral("Play"), "play", central);
  stop_button_ = MakeButton(QStringLiteral("Stop"), "stop", central);
  prev50_button_ = MakeButton(QStringLiteral("Prev 50"), "prev50", central);
  next50_button_ = MakeButton(QStringLiteral("Next 50"), "next50", central);
  play_button_->setGeometry(218, 492, 60, 22);
  stop_button_->setGeometry(282, 492, 60, 22);
  prev50_button_->setGeometry(346, 492, 62, 22);
  next50_button_->setGeometry(412, 492, 61, 22);
  connect(play_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnPlay(); }); });
  connect(stop_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnStop(); }); });
  connect(prev50_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnPrev50(); }); });
  connect(next50_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnNext50(); }); });

  auto* sound_group = new QGroupBox(central);
  sound_group->setGeometry(8, 516, 465, 100);
  auto add_row = [&](const QString& caption, QWidget* control, int x, int y, int label_width, int width) {
    auto* label = new QLabel(caption, sound_group);
    label->setGeometry(x, y, label_width, 20);
    control->setParent(sound_group);
    control->setGeometry(x + label_width, y, width, 22);
  };
  record_volume_ = MakeVolume("recordVolume", sound_group);
  wave_volume_ = MakeVolume("waveOutVolume", sound_group);
  master_volume_ = MakeVolume("masterVolume", sound_group);
  add_row(QStringLiteral("Sound Recorder Volume:"), record_volume_, 6, 6, 148, 70);
  add_row(QStringLiteral("Wave Out Volume:"), wave_volume_, 6, 36, 148, 70);
  add_row(QStringLiteral("Master Volume:"), master_volume_, 6, 66, 148, 70);
  sound_device_ = new QComboBox(sound_group);
  sound_device_->setObjectName(QStringLiteral("soundDevice"));
  sound_device_->setPlaceholderText(QStringLiteral("No Device Found"));
  add_row(QStringLiteral("Sound Recorder Device:"), sound_device_, 226, 6, 142, 94);
  sound_quality_ = MakeList({QStringLiteral("ADPCM 11025Hz x1"), QStringLiteral("ADPCM 22050Hz x1"),
                             QStringLiteral("ADPCM 44100Hz x1"), QStringLiteral("PCM 44100Hz x2(MP3)")},
                            2, "soundQuality", sound_group);
  sound_quality_->setGeometry(226, 40, 236, 22);

  // Bars report every change, by the user or by code, once it differs.
  connect(record_volume_, &QSlider::valueChanged, this,
          [this](int v) { Guard([this, v] { OnRecordingVolumeChanged(v); }); });
  connect(wave_volume_, &QSlider::valueChanged, this,
          [this](int v) { Guard([this, v] { OnWaveOutVolumeChanged(v); }); });
  connect(master_volume_, &QSlider::valueChanged, this,
          [this](int v) { Guard([this, v] { OnMasterVolumeChanged(v); }); });
  // Only the user's choice runs the list's handler.
  connect(sound_device_, &QComboBox::activated, this,
          [this](int i) { Guard([this, i] { OnRecordingLineChanged(i); }); });
}

void MainWindow::BuildRightSide(QWidget* central) {
  outer_pages_ = new QTabWidget(central);
  outer_pages_->setObjectName(QStringLiteral("outerPages"));
  outer_pages_->setGeometry(479, 8, 441, 593);
  auto* page = new QWidget;
  outer_pages_->addTab(page, QStringLiteral("Capture Frames&&Save"));

  capture_button_ = MakeButton(QStringLiteral("Capture Frames"), "captureFrames", page);
  capture_button_->setGeometry(8, 8, 110, 25);
  capture_button_->setEnabled(false);
  connect(capture_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnCaptureFrames(); }); });
  sound_file_button_ = MakeButton(QStringLiteral("Get Sound File"), "getSoundFile", page);
  sound_file_button_->setGeometry(124, 8, 110, 25);
  sound_file_button_->setEnabled(false);
  connect(sound_file_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnGetSoundFile(); }); });
  auto* latency_label = new QLabel(QStringLiteral("Latency(ms)"), page);
  latency_label->setGeometry(250, 12, 70, 17);
  latency_ = MakeSpin(25, 3000, 25, 250, "latency", page);
  latency_->setGeometry(322, 8, 110, 25);

  frame_area_ = new QScrollArea(page);
  frame_area_->setObjectName(QStringLiteral("frameArea"));
  frame_area_->setGeometry(8, 40, 417, 262);
  frame_area_->setWidgetResizable(false);
  preview_ = new QLabel;
  preview_->setObjectName(QStringLiteral("previewImage"));
  preview_->setFixedSize(169, 97);
  frame_area_->setWidget(preview_);
  gif_preview_ = new GifPreview(preview_, this);

  frame_label_ = new QLabel(QStringLiteral("Waiting ..."), page);
  frame_label_->setObjectName(QStringLiteral("frameLabel"));
  QFont bold = frame_label_->font();
  bold.setBold(true);
  frame_label_->setFont(bold);
  // Two lines: a result and the file it wrote are read whole.
  frame_label_->setWordWrap(true);
  frame_label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  frame_label_->setGeometry(8, 304, 250, 30);
  prev_button_ = MakeButton(QStringLiteral("Prev"), "prevFrame", page);
  next_button_ = MakeButton(QStringLiteral("Next"), "nextFrame", page);
  edit_frame_button_ = MakeButton(QStringLiteral("Edit Frame"), "editFrame", page);
  prev_button_->setGeometry(262, 308, 45, 22);
  next_button_->setGeometry(311, 308, 45, 22);
  edit_frame_button_->setGeometry(360, 308, 70, 22);
  connect(prev_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnPrevFrame(); }); });
  connect(next_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnNextFrame(); }); });
  connect(edit_frame_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnEditFrame(); }); });
  frame_exact_ = new QCheckBox(QStringLiteral("Frame-exact (offline)"), page);
  frame_exact_->setObjectName(QStringLiteral("frameExact"));
  frame_exact_->setToolTip(QStringLiteral(
      "Capture on a virtual clock: every frame is taken, however busy the machine, but the movie runs "
      "faster than real time and its buttons cannot be clicked in time"));
  frame_exact_->setGeometry(8, 334, 200, 20);
  true_color_ = MakeOption(QStringLiteral("TrueColor(AVI Only)"), "trueColor", page);
  true_color_->setGeometry(8, 334, 150, 20);
  true_color_->setAutoExclusive(false);
  true_color_->setVisible(false);

  inner_pages_ = new QTabWidget(page);
  inner_pages_->setObjectName(QStringLiteral("innerPages"));
  inner_pages_->setGeometry(8, 358, 425, 200);

  // "Quick Preview": the thumbnails.
  thumbnails_ = new QListWidget;
  thumbnails_->setObjectName(QStringLiteral("thumbnails"));
  thumbnails_->setViewMode(QListView::IconMode);
  thumbnails_->setIconSize(QSize(60, 45));
  thumbnails_->setGridSize(QSize(76, 66));
  thumbnails_->setResizeMode(QListView::Adjust);
  thumbnails_->setMovement(QListView::Static);
  thumbnails_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // The chosen thumbnail keeps a dark caption on its light mark, with the
  // list focused or not.
  thumbnails_->setStyleSheet(QStringLiteral(
      "QListWidget::item { border: 1px solid #d0d0d0; color: black; }"
      "QListWidget::item:selected { background: #b8d6f0; border: 1px solid #3a7bc0; color: black; }"));
  connect(thumbnails_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item, QListWidgetItem*) {
    Guard([this, item] { OnThumbnailSelected(item); });
  });
  // A click on the thumbnail already chosen shows its frame again after Prev or Next.
  connect(thumbnails_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    if (item != nullptr && item->text() != QString::number(shown_frame_)) Guard([this, item] { OnThumbnailSelected(item); });
  });
  inner_pages_->addTab(thumbnails_, QStringLiteral("Quick Preview"));

  // "Crop && Zoom".
  auto* crop_page = new QWidget;
  auto* crop_label = new QLabel(QStringLiteral("Crop Frame:"), crop_page);
  crop_label->setGeometry(8, 8, 100, 17);
  struct Margin {
    const char* caption;
    const char* name;
    QSpinBox** box;
    int x, y;
  };
  const Margin margins[] = {{"Top", "cropTop", &crop_top_, 150, 30},
                            {"Left", "cropLeft", &crop_left_, 40, 62},
                            {"Right", "cropRight", &crop_right_, 260, 62},
                            {"Bottom", "cropBottom", &crop_bottom_, 150, 94}};
  for (const Margin& m : margins) {
    auto* label = new QLabel(QString::fromLatin1(m.caption), crop_page);
    label->setGeometry(m.x, m.y + 3, 52, 17);
    *m.box = MakeSpin(0, 999, 10, 0, m.name, crop_page);
    (*m.box)->setGeometry(m.x + 54, m.y, 70, 24);
    connect(*m.box, &QSpinBox::textChanged, this, [this] { Guard([this] { OnCropChanged(); }); });
  }
  auto* zoom_caption = new QLabel(QStringLiteral("Zoom:"), crop_page);
  zoom_caption->setGeometry(8, 135, 40, 17);
  zoom_ = MakeSpin(5, 500, 10, 100, "zoom", crop_page);
  zoom_->setGeometry(52, 132, 70, 24);
  connect(zoom_, &QSpinBox::textChanged, this, [this] { Guard([this] { OnZoomChanged(); }); });
  zoom_label_ = new QLabel(QStringLiteral("%"), crop_page);
  zoom_label_->setObjectName(QStringLiteral("zoomLabel"));
  zoom_label_->setGeometry(128, 135, 200, 17);
  inner_pages_->addTab(crop_page, QStringLiteral("Crop && Zoom"));

  // "Save GIF": three option pairs and two buttons.
  auto* gif_page = new QWidget;
  auto pair = [gif_page](const QString& a, const char* an, const QString& b, const char* bn, int y,
                         QRadioButton** ra, QRadioButton** rb) {
    auto* group = new QGroupBox(gif_page);
    group->setGeometry(8, y, 300, 36);
    *ra = MakeOption(a, an, group);
    *rb = MakeOption(b, bn, group);
    (*ra)->setGeometry(10, 8, 130, 22);
    (*rb)->setGeometry(150, 8, 140, 22);
  };
  pair(QStringLiteral("Nearest"), "nearest", QStringLiteral("FloydSteinberg"), "floydSteinberg", 4, &nearest_,
       &floyd_);
  pair(QStringLiteral("Best Quality"), "bestQuality", QStringLiteral("Smaller Size"), "smallerSize", 44,
       &best_quality_, &smaller_size_);
  pair(QStringLiteral("GrayScale"), "grayScale", QStringLiteral("256Colors"), "colors256", 84, &gray_scale_,
       &colors256_);
  nearest_->setChecked(true);
  smaller_size_->setChecked(true);
  colors256_->setChecked(true);
  preview_gif_button_ = MakeButton(QStringLiteral("Preview GIF"), "previewGif", gif_page);
  save_gif_button_ = MakeButton(QStringLiteral("Save to GIF"), "saveGif", gif_page);
  preview_gif_button_->setGeometry(8, 130, 100, 25);
  save_gif_button_->setGeometry(116, 130, 100, 25);
  // Off by default: the plain build's bytes are what "Save to GIF" writes.
  optimize_gif_ = new QCheckBox(QStringLiteral("Optimize"), gif_page);
  optimize_gif_->setObjectName(QStringLiteral("optimizeGif"));
  optimize_gif_->setGeometry(224, 130, 90, 25);
  preview_gif_button_->setEnabled(false);
  save_gif_button_->setEnabled(false);
  connect(preview_gif_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnPreviewGif(); }); });
  connect(save_gif_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnSaveGif(); }); });
  inner_pages_->addTab(gif_page, QStringLiteral("Save GIF"));

  // "Save AVI".
  auto* avi_page = new QWidget;
  bit_depth_ = MakeList({QStringLiteral("  1 Bit "), QStringLiteral("  4 Bit  "), QStringLiteral("  8 Bit"),
                         QStringLiteral("24 Bit"), QStringLiteral("32 Bit")},
                        3, "bitDepth", avi_page);
  bit_depth_->setGeometry(8, 8, 120, 24);
  quality_ = MakeList({QStringLiteral("Highest Quality"), QStringLiteral("Very High Quality"),
                       QStringLiteral("High Quality"), QStringLiteral("Medium Quality"), QStringLiteral("Low Quality")},
                      3, "quality", avi_page);
  quality_->setGeometry(136, 8, 150, 24);
  codec_ = new QComboBox(avi_page);
  codec_->setObjectName(QStringLiteral("codec"));
  codec_->setPlaceholderText(QStringLiteral("Video Encoder"));
  codec_->setGeometry(8, 40, 278, 24);
  advance_button_ = MakeButton(QStringLiteral("Advance"), "advance", avi_page);
  advance_button_->setGeometry(294, 40, 80, 24);
  audio_ = new QCheckBox(QStringLiteral("Audio"), avi_page);
  audio_->setObjectName(QStringLiteral("audio"));
  audio_->setChecked(true);
  audio_->setGeometry(8, 74, 80, 20);
  save_avi_button_ = MakeButton(QStringLiteral("Save to AVI"), "saveAvi", avi_page);
  save_avi_button_->setGeometry(8, 104, 100, 25);
  save_avi_button_->setEnabled(false);
  connect(bit_depth_, &QComboBox::activated, this, [this](int i) { Guard([this, i] { OnBitDepthChanged(i); }); });
  connect(quality_, &QComboBox::activated, this, [this](int i) { Guard([this, i] { OnQualityChanged(i); }); });
  connect(codec_, &QComboBox::activated, this, [this](int i) { Guard([this, i] { OnCodecChanged(i); }); });
  connect(advance_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnAdvance(); }); });
  connect(save_avi_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnSaveAvi(); }); });
  inner_pages_->addTab(avi_page, QStringLiteral("Save AVI"));

  // "Save MP3".
  auto* mp3_page = new QWidget;
  bit_rate_ = MakeList({QStringLiteral("128kbit/s"), QStringLiteral("224kbit/s")}, 0, "bitRate", mp3_page);
  bit_rate_->setGeometry(8, 8, 120, 24);
  auto* note = new QLabel(QStringLiteral("For PCM audio format only\n"
                                         "[Please choose PCM audio format before you record/capture the flash file]"),
                          mp3_page);
  note->setWordWrap(true);
  note->setGeometry(8, 40, 400, 40);
  save_mp3_button_ = MakeButton(QStringLiteral("Save to MP3"), "saveMp3", mp3_page);
  save_mp3_button_->setGeometry(8, 88, 100, 25);
  save_mp3_button_->setEnabled(false);
  connect(save_mp3_button_, &QPushButton::clicked, this, [this] { Guard([this] { OnSaveMp3(); }); });
  inner_pages_->addTab(mp3_page, QStringLiteral("Save MP3"));
  BuildVideoPage();
}

QRect PlaceWindow(const QRect& screen, const QRect& available, const QMargins& frame, QSize content,
                  int scroll_bar) {
  const int room_w = available.width() - frame.left() - frame.right();
  const int room_h = available.height() - frame.top() - frame.bottom();
  // A page taller than the room scrolls, and its scroll bar takes width
  // (and the other way round).
  int w = std::min(content.width(), room_w);
  int h = std::min(content.height(), room_h);
  if (h < content.height()) w = std::min(content.width() + scroll_bar, room_w);
  if (w < content.width()) h = std::min(content.height() + scroll_bar, room_h);
  // Centred on the screen, frame included, and never off the available area.
  const int outer_w = w + frame.left() + frame.right(), outer_h = h + frame.top() + frame.bottom();
  int x = screen.x() + (screen.width() - outer_w) / 2;
  int y = screen.y() + (screen.height() - outer_h) / 2;
  x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - outer_w));
  y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - outer_h));
  return QRect(x + frame.left(), y + frame.top(), w, h);
}

QMargins MainWindow::FrameMargins() const {
  const QRect outer = frameGeometry(), inner = geometry();
  return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                  outer.bottom() - inner.bottom());
}

void MainWindow::FitToScreen() {
  QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    setFixedSize(kWindowWidth, kWindowHeight);
    return;
  }
  // The window manager's frame once known; until then room for a title bar
  // and borders, so that the frame that comes later stays on the screen.
  QMargins frame = FrameMargins();
  if (frame.isNull()) frame = kAssumedFrame;
  fitted_frame_ = frame;
  const int scroll_bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const QRect placed = PlaceWindow(screen->geometry(), screen->availableGeometry(), frame,
                                   QSize(kWindowWidth, kWindowHeight), scroll_bar);
  if (placed.size() == QSize(kWindowWidth, kWindowHeight)) {
    setFixedSize(placed.size());
  } else {
    setMinimumSize(std::min(placed.width(), 320), std::min(placed.height(), 240));
    setMaximumSize(kWindowWidth + scroll_bar, kWindowHeight + scroll_bar);
    resize(placed.size());
  }
  // move() places the frame's corner.
  move(placed.topLeft() - QPoint(frame.left(), frame.top()));
}

bool MainWindow::event(QEvent* event) {
  // The frame arrives from the window manager after the window is shown:
  // fit again once it differs from the one fitted for.
  if ((event->type() == QEvent::Move || event->type() == QEvent::Resize) && fitted_after_show_ &&
      !FrameMargins().isNull() && FrameMargins() != fitted_frame_) {
    QTimer::singleShot(0, this, &MainWindow::FitToScreen);
    fitted_frame_ = FrameMargins();
  }
  return QMainWindow::event(event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The frame's size is known once the window is shown.
  if (!fitted_after_show_) {
    fitted_after_show_ = true;
    if (!event->spontaneous()) QTimer::singleShot(0, this, &MainWindow::FitToScreen);
  }
}

void MainWindow::ApplyArea() {
  player_->setGeometry(area_.player_left, area_.player_top, area_.player_width, area_.player_height);
  grip_->move(area_.grip_left, area_.grip_top);
  grip_->raise();
  const int w = std::max(area_.player_left + area_.player_width, area_.grip_left + grip_->width());
  const int h = std::max(area_.player_top + area_.player_height, area_.grip_top + grip_->height());
  player_canvas_->resize(w, h);
}

void MainWindow::Pump() { QCoreApplication::processEvents(); }

void MainWindow::SetFrameLabel(const QString& text) { frame_label_->setText(text); }

namespace {
// Ends a command that the user asked to stop (by closing the window).
struct CommandCancelled {};
}  // namespace

void MainWindow::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const CommandCancelled&) {
  } catch (const std::exception& e) {
    prompts_.Message(this, QString::fromStdString(e.what()));
  }
}

bool MainWindow::RunSave(const QString& what, const QString& path, const std::function<void()>& save) {
  try {
    save();
    return true;
  } catch (const CommandCancelled&) {
    throw;
  } catch (const std::exception& e) {
    SaveFailed(what, path, QString::fromStdString(e.what()));
    return false;
  }
}

void MainWindow::StartupTick() {
  startup_timer_.stop();
  ++startup_runs_;
  Guard([this] {
    const sound::StartupSelection selection = sound::RunStartupSelection(mixer_);
    master_volume_->setValue(selection.master_volume);  // -1 shows as 0
    wave_volume_->setValue(selection.wave_out_volume);
    if (!selection.recording_lines.empty()) {
      const QSignalBlocker block(sound_device_);
      sound_device_->clear();
      for (const std::string& line : selection.recording_lines) sound_device_->addItem(QString::fromStdString(line));
      sound_device_->setCurrentIndex(selection.selected_line);
    }
    if (selection.recording_volume) record_volume_->setValue(*selection.recording_volume);
  });
  // The codec list is filled whatever the mixer did.
  Guard([this] { FillCodecBox(avi::FillCodecList(avi_writer_, quality_->currentIndex())); });
}

// --- Sound controls ---

void MainWindow::OnRecordingLineChanged(int index) {
  if (const std::optional<int> volume = sound::RecordingLineChanged(mixer_, index)) {
    record_volume_->setValue(*volume);
  }
}

void MainWindow::OnRecordingVolumeChanged(int position) {
  sound::RecordingVolumeChanged(mixer_, sound_device_->currentIndex(), position);
}

void MainWindow::OnWaveOutVolumeChanged(int position) { sound::WaveOutVolumeChanged(mixer_, position); }

void MainWindow::OnMasterVolumeChanged(int position) { sound::MasterVolumeChanged(mixer_, position); }

void MainWindow::OnGetSoundFile() {
  if (movie_path_.isEmpty()) return;
  const std::filesystem::path movie = movie_path_.toStdString();
  sound::SoundExtraction result;
  try {
    result = sound::ExtractSounds(movie);
  } catch (const sound::SoundExtractionError& e) {
    // What was shown before the fault, then the fault itself.
    for (const std::string& m : e.SoFar().messages) prompts_.Message(this, QString::fromStdString(m));
    throw;
  }
  for (const std::string& m : result.messages) prompts_.Message(this, QString::fromStdString(m));
}

// --- MP3 ---

void MainWindow::OnSaveMp3() {
  if (busy_) return;
  const QString path = ChooseSaveFile(QStringLiteral("MP3 (*.mp3)"), QStringLiteral("mp3"), QStringLiteral("MP3"));
  if (path.isEmpty()) return;
  // Without a recording the encoder could only say that it failed.
  if (!std::filesystem::exists(paths::RecordingFilePath())) {
    SaveFailed(QStringLiteral("MP3"), path,
               QStringLiteral("There is no recording (%1), so no MP3 can be made.")
                   .arg(QString::fromStdString(paths::RecordingFilePath().string())));
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const sound::Mp3ExportResult result = sound::ExportMp3(path.toStdString(), bit_rate_->currentIndex());
  QApplication::restoreOverrideCursor();
  if (!result.error.empty()) {
    SaveFailed(QStringLiteral("MP3"), path, QString::fromStdString(result.error));
  } else if (!QFileInfo::exists(path)) {
    SaveFailed(QStringLiteral("MP3"), path, QStringLiteral("%1: the MP3 encoder wrote no file").arg(path));
  } else {
    SetFrameLabel(QString::fromStdString(result.frame_label));
    SavedTo(path);
  }
}

// --- AVI ---

void MainWindow::FillCodecBox(const avi::CodecBox& box) {
  codec_box_ = box;
  const QSignalBlocker block(codec_);
  codec_->clear();
  for (const std::string& item : box.items) codec_->addItem(QString::fromStdString(item));
  codec_->setCurrentIndex(box.selected);
}

void MainWindow::OnBitDepthChanged(int index) {
  FillCodecBox(avi::ChangeBitDepth(avi_writer_, index, quality_->currentIndex()));
}

void MainWindow::OnQualityChanged(int index) { avi::ApplyQuality(avi_writer_, index); }

void MainWindow::OnCodecChanged(int index) {
  codec_box_.selected = index;
  avi::ApplyCodec(avi_writer_, codec_box_);
}

void MainWindow::OnAdvance() { avi::ConfigureChosenCodec(avi_writer_, codec_box_, static_cast<QWidget*>(this)); }

capture::CropZoom MainWindow::CurrentCropZoom() const {
  capture::CropZoom settings;
  settings.top = crop_top_->value();
  settings.left = crop_left_->value();
  settings.right = crop_right_->value();
  settings.bottom = crop_bottom_->value();
  settings.zoom = zoom_->value();
  return settings;
}

void MainWindow::OnSaveAvi() {
  if (busy_) return;
  // An AVI holds no alpha; the movie draws its edges best onto the colour wanted.
  if (capture_alpha_) {
    prompts_.Message(this, QStringLiteral("The capture has a transparent background, which an AVI cannot keep. "
                                          "Choose a background colour and capture again, or save a GIF, or WebM, "
                                          "WebP or APNG on \"Save Video\"."));
    return;
  }
  codec_box_.selected = codec_->currentIndex();
  const QString path =
      ChooseSaveFile(QStringLiteral("*.avi (*.avi);;All Files (*)"), QStringLiteral("avi"), QStringLiteral("AVI"));
  if (path.isEmpty()) return;
  // Checked before any frame is read, so a missing recording costs no work:
  // the video is saved without sound, and the user is told.
  bool audio = audio_->isChecked();
  QString note;
  if (audio && !std::filesystem::exists(paths::RecordingFilePath())) {
    audio = false;
    note = QStringLiteral("There is no recording (%1), so the AVI is saved without sound.")
               .arg(QString::fromStdString(paths::RecordingFilePath().string()));
  }
  avi::AviSaveOptions options;
  options.output = path.toStdString();
  options.captured_frame_count = captured_frame_count_;
  options.crop_zoom = CurrentCropZoom();
  options.latency_ms = latency_->value();
  options.audio = audio;
  options.pixel_format = avi_writer_.PixelFormat();
  options.quality_index = quality_->currentIndex();
  options.codec = codec_box_;
  options.preview_width = preview_->width();
  options.preview_height = preview_->height();
  avi::AviSaveCallbacks callbacks;
  // The question was asked with the file name, before the progress box.
  callbacks.ask_overwrite = [](const std::filesystem::path&) { return true; };
  callbacks.close_recorder = [this] { recorder_.Close(); };
  callbacks.progress = [this](const std::string& label, int percent) {
    SetFrameLabel(QString::fromStdString(label));
    progress_.SetProgress(percent);
  };
  BeginLongCommand();
  progress_.Start();
  avi::AviSaveOutcome outcome;
  RunSave(QStringLiteral("AVI"), path, [&] {
    try {
      outcome = avi::SaveToAvi(avi_writer_, options, callbacks);
    } catch (...) {
      progress_.End();
      EndLongCommand();
      throw;
    }
    progress_.End();
    EndLongCommand();
  });
  if (!outcome.message.empty()) prompts_.Message(this, QString::fromStdString(outcome.message));
  if (outcome.saved) {
    SavedTo(path);
    if (!note.isEmpty()) prompts_.Message(this, note);
  }
}

// --- Playback (the four buttons end a running capture) ---

void MainWindow::OnPlay() {
  stop_requested_ = true;
  RequestCaptureStop();
  control_.Play();
}

void MainWindow::OnStop() {
  stop_requested_ = true;
  RequestCaptureStop();
  control_.Stop();
}

void MainWindow::OnPrev50() {
  stop_requested_ = true;
  RequestCaptureStop();
  const int target = Prev50Target(control_.CurrentFrame());
  if (target >= 0) control_.GotoFrame(target);
}

void MainWindow::OnNext50() {
  stop_requested_ = true;
  RequestCaptureStop();
  control_.GotoFrame(Next50Target(control_.CurrentFrame()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == seek_bar_ && event->type() == QEvent::MouseButtonRelease &&
      seek_bar_->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
    // Seek once the bar has taken its new position from the release.
    QTimer::singleShot(0, this, [this] { Guard([this] { OnSeekReleased(); }); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::OnSeekReleased() {
  if (control_.ReadyState() == 4) control_.GotoFrame(seek_bar_->value());
}

void MainWindow::RefreshStatus() {
  // The placeholder that Close loads is no movie of the user's.
  if (movie_path_.isEmpty() || control_.ReadyState() != 4) return;
  const int current = control_.CurrentFrame();
  if (!seek_bar_->isSliderDown()) seek_bar_->setValue(current);
  status_line_->setText(QString::fromStdString(
      StatusLineText(current, control_.TotalFrames(), player_->width(), player_->height(), movie_fps_)));
}

// --- Resize grip ---

void MainWindow::GripPressed(int x, int y) {
  grip_dx0_ = x;
  grip_dy0_ = y;
  grip_dragging_ = true;
}

void MainWindow::GripMoved(int x, int y) {
  if (!grip_dragging_) return;
  DragGripTo(area_, area_.grip_left + (x - grip_dx0_), area_.grip_top + (y - grip_dy0_), max_player_width_,
             max_player_height_);
  ApplyArea();
}

void MainWindow::GripReleased() {
  if (grip_dragging_) player_->setFocus();
  grip_dragging_ = false;
}

// --- Colour box ---

void MainWindow::OnColorChosen(int index) {
  if (index != kCustomColorIndex) return;
  const QColor chosen = prompts_.PickColor(this, custom_color_.isValid() ? custom_color_ : Qt::black);
  if (chosen.isValid()) {
    custom_color_ = chosen;
    QPixmap swatch(12, 12);
    swatch.fill(chosen);
    color_box_->setItemIcon(kCustomColorIndex, QIcon(swatch));
    color_box_->setItemData(kCustomColorIndex, chosen);
  }
}

std::int32_t MainWindow::ChosenBackground() const {
  const QVariant data = color_box_->currentData();
  if (!data.isValid()) return 0;  // no colour selected: black
  const QColor c = data.value<QColor>();
  return static_cast<std::int32_t>((c.red() << 16) | (c.green() << 8) | c.blue());
}

bool MainWindow::ChosenTransparent() const {
  const QVariant data = color_box_->currentData();
  return data.isValid() && data.value<QColor>().alpha() == 0;
}

// --- Open and Close ---

void MainWindow::OnOpen() {
  const QString path = prompts_.OpenFile(this, QStringLiteral("Flash (*.swf);;All Files (*)"),
                                         QStringLiteral("*.swf"));
  if (path.isEmpty()) return;
  OpenMovie(path);
}

void MainWindow::OnClose() {
  if (busy_) return;
  prev50_button_->setEnabled(false);
  next50_button_->setEnabled(false);
  capture_button_->setEnabled(false);
  open_button_->setEnabled(true);
  close_button_->setEnabled(false);
  // Nothing is left to take sounds from.
  sound_file_button_->setEnabled(false);
  control_.Stop();
  previous_movie_ = QString::fromStdString(paths::DataFilePath("temp.swf").string());
  control_.SetMovie(previous_movie_.toStdString());
  movie_path_.clear();
  name_box_->setText(QString::fromLatin1(kNoMovieText));
  status_line_->setText(QString::fromLatin1(kNoMovieText));
}

// --- Frame browser ---

void MainWindow::OnThumbnailSelected(QListWidgetItem* item) {
  if (!thumbnails_->isEnabled() || item == nullptr) return;
  // The item's own frame (its caption), so that the last thumbnail, which is
  // not frame 10k + 1, shows its frame too.
  bool ok = false;
  const int m = item->text().toInt(&ok);
  if (!ok) return;
  const auto path = paths::FrameFilePath(m);
  if (!std::filesystem::exists(path)) return;
  ShowFramePicture(capture::LoadFramePicture(path, capture_alpha_), m);
}

void MainWindow::ShowFramePicture(gdi::Bitmap picture, int frame_number) {
  frame_view_ = std::move(picture);
  ApplyCropZoom();
  shown_frame_ = frame_number;
  SetFrameLabel(QString::number(frame_number));
}

void MainWindow::OnPrevFrame() {
  if (shown_frame_ > 1) --shown_frame_;
  ShowCapturedFrame();
}

void MainWindow::OnNextFrame() {
  if (shown_frame_ < captured_frame_count_) ++shown_frame_;
  ShowCapturedFrame();
}

void MainWindow::ShowCapturedFrame() {
  // A picture put in the capture folder as n.jpg (a frame edited outside,
  // see "Edit Frame") is shown in place of the captured frame n.
  if (const auto jpeg = paths::FramePicturePath(shown_frame_); std::filesystem::exists(jpeg)) {
    // A JPEG holds no alpha: 24 bits, so that it never shows as clear.
    ShowFramePicture(LoadJpegPicture(jpeg).ConvertTo(gdi::PixelFormat::pf24bit), shown_frame_);
    return;
  }
  // A left-out number is the same picture as the frame before it.
  for (int k = shown_frame_; k >= 1; --k) {
    const auto path = paths::FrameFilePath(k);
    if (std::filesystem::exists(path)) {
      ShowFramePicture(capture::LoadFramePicture(path, capture_alpha_), shown_frame_);
      return;
    }
  }
}

void MainWindow::OnEditFrame() {
  const QString folder = QString::fromStdString(paths::CaptureFolder().string());
  if (!prompts_.OpenFolder(folder)) {
    prompts_.Message(this, QStringLiteral("No program could open the capture folder %1.").arg(folder));
  }
}

// --- Crop and zoom ---

void MainWindow::ApplyCropZoom() {
  const QSpinBox* boxes[] = {crop_left_, crop_right_, crop_top_, crop_bottom_, zoom_};
  for (const QSpinBox* box : boxes) {
    if (box->cleanText().isEmpty()) return;
  }
  if (frame_view_.Empty()) return;
  UpdateCropLimits();
  capture::CropZoom settings;
  settings.top = crop_top_->value();
  settings.left = crop_left_->value();
  settings.right = crop_right_->value();
  settings.bottom = crop_bottom_->value();
  settings.zoom = zoom_->value();
  std::optional<gdi::Bitmap> picture = capture::ApplyCropZoom(frame_view_, settings);
  if (!picture) return;
  ShowPreview(*picture);
  for (int i = 0; i < 5; ++i) Pump();
  zoom_label_->setText(QString::fromStdString(capture::ZoomLabelText(preview_->width(), preview_->height())));
}

void MainWindow::UpdateCropLimits() {
  // Margins that would leave nothing of the frame cannot be entered: each
  // box stops where one row or column would still be left.
  const QSignalBlocker block_l(crop_left_), block_r(crop_right_), block_t(crop_top_), block_b(crop_bottom_);
  const auto limit = [](QSpinBox* box, int extent, const QSpinBox* other) {
    box->setMaximum(std::clamp(extent - 1 - other->value(), 0, kMaxCropMargin));
  };
  const int w = frame_view_.Width(), h = frame_view_.Height();
  crop_right_->setMaximum(std::clamp(w - 1, 0, kMaxCropMargin));
  limit(crop_left_, w, crop_right_);
  limit(crop_right_, w, crop_left_);
  crop_bottom_->setMaximum(std::clamp(h - 1, 0, kMaxCropMargin));
  limit(crop_top_, h, crop_bottom_);
  limit(crop_bottom_, h, crop_top_);
}

void MainWindow::ShowPreview(const gdi::Bitmap& picture) {
  const QImage image = capture_alpha_ ? ToQImageOverChecks(picture) : ToQImage(picture);
  gif_preview_->Clear();
  preview_->setPixmap(DevicePixmap(image, preview_->devicePixelRatioF()));
  preview_->setFixedSize(picture.Width(), picture.Height());
}

void MainWindow::OnCropChanged() { ApplyCropZoom(); }

void MainWindow::OnZoomChanged() { ApplyCropZoom(); }

// --- Long commands ---

void MainWindow::BeginLongCommand() { busy_ = true; }

void MainWindow::EndLongCommand() {
  busy_ = false;
  if (close_pending_) QTimer::singleShot(0, this, &QWidget::close);
}

#ifndef QUARVEL_APP_CAPTURE
// Without the capture session the button does nothing.
void MainWindow::OnCaptureFrames() {}
void MainWindow::RequestCaptureStop() {}
#endif

// --- GIF ---

void MainWindow::BuildGif() {
  if (true_color_->isChecked()) colors256_->setChecked(true);
  gif::BuildOptions options;
  options.frame_count = captured_frame_count_;
  options.crop_zoom = CurrentCropZoom();
  options.latency_ms = latency_->value();
  options.colors = gray_scale_->isChecked() ? gif::ColorChoice::kGrayScale : gif::ColorChoice::k256Colors;
  options.dither = floyd_->isChecked() ? gif::DitherChoice::kFloydSteinberg : gif::DitherChoice::kNearest;
  options.size = best_quality_->isChecked() ? gif::SizeChoice::kBestQuality : gif::SizeChoice::kSmallerSize;
  options.transparent = capture_alpha_;
  BeginLongCommand();
  progress_.Start();
  gif::BuildResult result;
  try {
    result = gif::BuildAnimation(options, [this](const std::string& label, int percent) {
      SetFrameLabel(QString::fromStdString(label));
      progress_.SetProgress(percent);
      // The build holds nothing on disk, so a close may end it here.
      if (close_pending_) throw CommandCancelled{};
    });
  } catch (...) {
    progress_.End();
    EndLongCommand();
    throw;
  }
  gif_preview_->Show(std::move(result.image));
  SetFrameLabel(QString::fromLatin1(gif::kBuildFinishedText));
  progress_.End();
  EndLongCommand();
}

void MainWindow::OnPreviewGif() {
  if (busy_) return;
  BuildGif();
}

void MainWindow::OnSaveGif() {
  if (busy_) return;
  const QString path =
      ChooseSaveFile(QStringLiteral("*.gif (*.gif);;All Files (*)"), QStringLiteral("gif"), QStringLiteral("GIF"));
  if (path.isEmpty()) return;
  BuildGif();
  if (!gif_preview_->HasImage()) return;
  RunSave(QStringLiteral("GIF"), path, [&] {
    if (optimize_gif_->isChecked())
      gif::SaveStreamToFile(gif::OptimizeAnimation(gif_preview_->Image()).Bytes(), path.toStdString());
    else
      gif_preview_->Image().SaveToFile(path.toStdString());
    SavedTo(path);
  });
}

QString MainWindow::ChooseSaveFile(const QString& filter, const QString& extension, const QString& what) {
  // The frames saved are the captured movie's, also after Close.
  const QString movie_path = movie_path_.isEmpty() ? captured_movie_ : movie_path_;
  QString folder;
  QString base = QStringLiteral("movie");
  if (!movie_path.isEmpty()) {
    const QFileInfo movie(movie_path);
    // Another movie's folder would offer that movie's files under this name.
    folder = save_folder_movie_ == movie_path ? save_folder_ : movie.absolutePath();
    base = movie.completeBaseName();
  }
  if (folder.isEmpty()) folder = QDir::homePath();
  const QString initial = QDir(folder).filePath(base + QLatin1Char('.') + extension);
  const QString path = prompts_.SaveFile(this, filter, extension, initial);
  if (path.isEmpty()) return {};
  save_folder_ = QFileInfo(path).absolutePath();
  save_folder_movie_ = movie_path;
  // Asked here, once, before any progress is shown.
  if (QFileInfo::exists(path) && !prompts_.AskYesNo(this, QString::fromLatin1(avi::kOverwriteQuestion))) return {};
  // A file that cannot be written fails before any work is done.
  if (const QString why = CannotWrite(path); !why.isEmpty()) {
    SaveFailed(what, path, why);
    return {};
  }
  return path;
}

void MainWindow::SavedTo(const QString& path) {
  frame_label_->setToolTip(path);
  SetFrameLabel(frame_label_->text() + QStringLiteral(": ") + LabelFileName(path));
}

QString MainWindow::LabelFileName(const QString& path) const {
  // Only a name longer than the label's line is shortened; the result itself never is.
  return frame_label_->fontMetrics().elidedText(QFileInfo(path).fileName(), Qt::ElideMiddle, frame_label_->width());
}

void MainWindow::SaveFailed(const QString& what, const QString& path, const QString& why) {
  frame_label_->setToolTip(path);
  SetFrameLabel(QStringLiteral("%1 Save Failed: %2").arg(what, LabelFileName(path)));
  prompts_.Error(this, QStringLiteral("Error:"), why);
}

// --- Shutdown ---

void MainWindow::RunCloseSteps() {
  if (closing_done_) return;
  closing_done_ = true;
  // Every numbered frame file, not only 0 to 10000, and the recording.
  capture::ClearFrameStore();
}

namespace {
// The one local file a drag carries, or an empty string.
QString DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}
}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (busy_ || path.isEmpty()) return;
  event->acceptProposedAction();
  // A movie already open is closed first, as the user would before Open.
  Guard([this, path] {
    if (!movie_path_.isEmpty()) OnClose();
    OpenMovie(path);
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (busy_) {
    // Ask the running command to stop; the close steps run once it has
    // returned, so no file it still uses is deleted under it.
    stop_requested_ = true;
    RequestCaptureStop();
    close_pending_ = true;
    event->ignore();
    return;
  }
  RunCloseSteps();
  progress_.hide();
  event->accept();
}

void MainWindow::FitPlayerToMovie(const QString& path) {
  flash::PlayerLayout current;
  current.left = area_.player_left;
  current.top = area_.player_top;
  current.width = area_.player_width;
  current.height = area_.player_height;
  current.gripLeft = area_.grip_left;
  current.gripTop = area_.grip_top;
  const flash::MovieFit fit =
      flash::FitPlayerToMovie(path.toStdString(), current, max_player_width_, max_player_height_);
  movie_fps_ = fit.framesPerSecond;
  // A movie without width or height keeps the player's size in that
  // direction: a player of no pixels could not be captured.
  if (fit.layout.width > 0) {
    area_.player_width = fit.layout.width;
    area_.grip_left = fit.layout.gripLeft;
  }
  if (fit.layout.height > 0) {
    area_.player_height = fit.layout.height;
    area_.grip_top = fit.layout.gripTop;
  }
  ApplyArea();
}

bool MainWindow::OpenMovie(const QString& path) {
  if (busy_) return false;
  if (control_.Playing()) control_.Stop();
  control_.SetBackgroundColor(ChosenBackground());
  control_.SetTransparent(ChosenTransparent());
  player_->SetShowAlpha(ChosenTransparent());
  control_.SetMovie(path.toStdString());
  QString why;
  if (control_.ReadyState() != 4) {
    why = QString::fromStdString(control_.LoadError());
    if (why.isEmpty()) why = QStringLiteral("the player could not load it");
  } else {
    try {
      FitPlayerToMovie(path);
    } catch (const std::exception& e) {
      why = QString::fromStdString(e.what());
    }
  }
  // The player's own error may begin with the path; the message names it once.
  if (const QString prefix = path + QStringLiteral(": "); why.startsWith(prefix)) why.remove(0, prefix.size());
  if (!why.isEmpty()) {
    // Refused at once, not at Capture: the player goes back to what it held.
    control_.SetMovie(previous_movie_.toStdString());
    prompts_.Error(this, QStringLiteral("Error:"), QStringLiteral("Can not open %1: %2").arg(path, why));
    return false;
  }
  name_box_->setText(path);
  movie_path_ = path;
  const int total = control_.TotalFrames();
  seek_bar_->setMaximum(total);
  seek_bar_->setTickInterval(SeekTickSpacing(total));
  player_->setFocus();
  control_.GotoFrame(0);
  control_.Play();
  if (open_wait_ms_ > 0) QThread::msleep(static_cast<unsigned long>(open_wait_ms_));
  open_button_->setEnabled(false);
  capture_button_->setEnabled(true);
  sound_file_button_->setEnabled(true);
  close_button_->setEnabled(true);
  // Close disabled them; a newly opened movie can be positioned again.
  prev50_button_->setEnabled(true);
  next50_button_->setEnabled(true);
  return true;
}

}  // namespace quarvel::app
