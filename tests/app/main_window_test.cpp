#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QAbstractButton>
#include <filesystem>
#include <fstream>

#include "app/flash_widget.h"
#include "app/window_fixture.h"
#include "app/window_layout.h"
#include "sound/mixer_setup.h"

namespace quarvel::testing {
namespace {

using Spin = std::tuple<const char*, int, int, int, int>;  // name, min, max, step, value

TEST_F(WindowTest, StartsWithEveryDefaultAndCreatesNothing) {
  // Fixed at the page's size where the screen has room for it (at 1x).
  if (window->screen()->availableGeometry().height() >= 621 + 34) {
    EXPECT_EQ(window->size(), QSize(928, 621));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
  }
  EXPECT_EQ(window->windowTitle(), "Quarvel");
  EXPECT_EQ(window->CapturedFrameCount(), 0);
  EXPECT_EQ(window->ShownFrame(), 0);
  EXPECT_EQ(window->MovieFps(), 0);
  EXPECT_EQ(window->MaxPlayerWidth(), 1024);
  EXPECT_EQ(window->MaxPlayerHeight(), 1024);

  // The enabling of a fresh window.
  for (const char* on : {"open", "play", "stop", "prev50", "next50", "prevFrame", "nextFrame", "editFrame", "advance"})
    EXPECT_TRUE(Find<QPushButton>(on)->isEnabled()) << on;
  for (const char* off :
       {"close", "captureFrames", "getSoundFile", "previewGif", "saveGif", "saveAvi", "saveMp3"})
    EXPECT_FALSE(Find<QPushButton>(off)->isEnabled()) << off;

  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "Open file");
  EXPECT_TRUE(Find<QLineEdit>("swfName")->isReadOnly());
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "Waiting ...");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Waiting ...");
  EXPECT_TRUE(Find<QLabel>("frameLabel")->font().bold());
  EXPECT_EQ(Find<QLabel>("zoomLabel")->text(), "%");
  EXPECT_EQ(Find<QComboBox>("backgroundColor")->currentText(), "Black");

  auto* seek = Find<QSlider>("seekBar");
  EXPECT_EQ(seek->minimum(), 0);
  EXPECT_EQ(seek->maximum(), 10);
  EXPECT_EQ(seek->value(), 0);
  EXPECT_EQ(seek->tickInterval(), 1);
  EXPECT_EQ(seek->pageStep(), 2);
  EXPECT_EQ(seek->singleStep(), 1);
  for (const char* v : {"recordVolume", "waveOutVolume", "masterVolume"}) {
    EXPECT_EQ(Find<QSlider>(v)->maximum(), 100) << v;
    EXPECT_EQ(Find<QSlider>(v)->tickInterval(), 5) << v;
  }
  for (const Spin& s : {Spin{"latency", 25, 3000, 25, 250}, Spin{"cropTop", 0, 999, 10, 0},
                        Spin{"cropLeft", 0, 999, 10, 0}, Spin{"cropRight", 0, 999, 10, 0},
                        Spin{"cropBottom", 0, 999, 10, 0}, Spin{"zoom", 5, 500, 10, 100}}) {
    auto* box = Find<QSpinBox>(std::get<0>(s));
    EXPECT_EQ(box->minimum(), std::get<1>(s)) << std::get<0>(s);
    EXPECT_EQ(box->maximum(), std::get<2>(s)) << std::get<0>(s);
    EXPECT_EQ(box->singleStep(), std::get<3>(s)) << std::get<0>(s);
    EXPECT_EQ(box->value(), std::get<4>(s)) << std::get<0>(s);
  }
  EXPECT_EQ(Find<QComboBox>("soundQuality")->currentText(), "ADPCM 44100Hz x1");
  EXPECT_EQ(Find<QComboBox>("soundQuality")->count(), 4);
  EXPECT_EQ(Find<QComboBox>("soundDevice")->placeholderText(), "No Device Found");
  EXPECT_EQ(Find<QComboBox>("bitDepth")->currentText(), "24 Bit");
  EXPECT_EQ(Find<QComboBox>("bitDepth")->itemText(0), "  1 Bit ");
  EXPECT_EQ(Find<QComboBox>("quality")->currentText(), "Medium Quality");
  EXPECT_EQ(Find<QComboBox>("bitRate")->currentText(), "128kbit/s");
  EXPECT_TRUE(Find<QCheckBox>("audio")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>("optimizeGif")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("nearest")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("smallerSize")->isChecked());
  EXPECT_TRUE(Find<QRadioButton>("colors256")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>("trueColor")->isVisible());
  EXPECT_FALSE(Find<QRadioButton>("trueColor")->isChecked());

  auto* outer = Find<QTabWidget>("outerPages");
  auto* inner = Find<QTabWidget>("innerPages");
  EXPECT_EQ(outer->currentIndex(), 0);
  EXPECT_EQ(outer->tabText(0), "Capture Frames&&Save");
  EXPECT_EQ(inner->currentIndex(), 0);
  const QStringList pages = {"Quick Preview", "Crop && Zoom", "Save GIF", "Save AVI", "Save MP3"};
  for (int i = 0; i < pages.size(); ++i) EXPECT_EQ(inner->tabText(i), pages[i]);

  // The player and its grip in the player area.
  EXPECT_EQ(window->Player()->geometry(), QRect(0, 0, 192, 192));
  EXPECT_EQ(Find<QPushButton>("grip")->pos(), QPoint(453, 382));
  EXPECT_EQ(Find<QPushButton>("grip")->size(), QSize(15, 14));
  EXPECT_EQ(window->PreviewImage()->size(), QSize(169, 97));

  // The start-up work runs once, half a second later; nothing is created.
  EXPECT_EQ(window->StartupRuns(), 0);
  QTest::qWait(1300);
  EXPECT_EQ(window->StartupRuns(), 1);
  EXPECT_TRUE(std::filesystem::is_empty(Home()));
}

TEST_F(WindowTest, TheWholeWindowFitsTheAvailableAreaAtEveryScale) {
  const QSize content = Find<QWidget>("content")->size();
  const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window.get());
  const QMargins frame(4, 30, 4, 4);
  for (const double scale : {1.0, 1.5, 2.0}) {
    // 1920 x 1080 pixels with a 48-pixel panel at the bottom.
    const QRect screen(0, 0, int(1920 / scale), int(1080 / scale));
    const QRect available = screen.adjusted(0, 0, 0, -int(48 / scale));
    const QRect placed = app::PlaceWindow(screen, available, frame, content, bar);
    EXPECT_TRUE(available.contains(placed.marginsAdded(frame))) << scale;
    if (placed.height() < content.height()) {
      // Only the height scrolls; the width holds the page and its scroll bar.
      EXPECT_EQ(placed.width(), content.width() + bar) << scale;
    } else {
      EXPECT_EQ(placed.size(), content) << scale;
    }
  }
}

TEST_F(WindowTest, GripDragResizesThePlayerWithinItsBounds) {
  auto* grip = Find<QPushButton>("grip");
  QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseMove(grip, QPoint(6, 5));  // one pixel to the right
  EXPECT_EQ(window->Player()->size(), QSize(462, 390));
  EXPECT_EQ(grip->pos(), QPoint(454, 382));
  QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(6, 5));
  EXPECT_TRUE(window->Player()->hasFocus() || !window->isActiveWindow());

  // Far to the top-left: stops above 20 pixels on both axes.
  window->GripPressed(0, 0);
  window->GripMoved(-1000, -1000);
  EXPECT_EQ(window->Player()->size(), QSize(462, 390));  // both candidates refused
  window->GripMoved(-441, -369);  // grip at (13, 13): the player is 21 x 21
  EXPECT_EQ(window->Player()->size(), QSize(21, 21));
  window->GripMoved(-1, 5);       // x would give 20: held at its bound; y moves on
  EXPECT_EQ(window->Player()->size(), QSize(21, 26));
  window->GripReleased();
  // Far to the right and down: stays below 1024.
  window->GripPressed(0, 0);
  window->GripMoved(1002, 1002);  // x: 1023 taken; y: 1028 refused
  EXPECT_EQ(window->Player()->size(), QSize(1023, 26));
  window->GripMoved(1, 997);     // x: 1024 refused; y: 1023 taken
  EXPECT_EQ(window->Player()->size(), QSize(1023, 1023));
  window->GripReleased();
  // Moves without a press do nothing.
  const QSize before = window->Player()->size();
  window->GripMoved(-50, -50);
  EXPECT_EQ(window->Player()->size(), before);
}

TEST_F(WindowTest, PlaybackButtonsAndSeekBar) {
  // No movie: a seek release and the status timer do nothing.
  auto* seek = Find<QSlider>("seekBar");
  seek->setValue(5);
  QTest::mouseRelease(seek, Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_TRUE(movie.gotos_.empty());
  window->RefreshStatus();
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "Waiting ...");

  OpenTinyMovie(100, 80, 10, 300);
  movie.gotos_.clear();
  movie.Stop();
  movie.GotoFrame(30);
  movie.gotos_.clear();
  Click("prev50");
  EXPECT_TRUE(movie.gotos_.empty());  // at frame 50 or below the movie stays
  EXPECT_TRUE(window->StopRequested());
  movie.GotoFrame(120);
  movie.gotos_.clear();
  Click("prev50");
  Click("next50");
  EXPECT_EQ(movie.gotos_, (std::vector<int>{70, 120}));
  movie.GotoFrame(280);
  movie.gotos_.clear();
  Click("next50");
  EXPECT_EQ(movie.gotos_, (std::vector<int>{330}));  // passed on unchanged

  EXPECT_EQ(seek->maximum(), 300);
  EXPECT_EQ(seek->tickInterval(), 15);
  seek->setValue(200);
  movie.gotos_.clear();
  QTest::mouseRelease(seek, Qt::LeftButton, {}, QPoint(1, 1));
  QCoreApplication::processEvents();
  ASSERT_FALSE(movie.gotos_.empty());
  EXPECT_EQ(movie.gotos_.back(), seek->value());
  // A release away from the bar does not seek.
  movie.gotos_.clear();
  QTest::mouseRelease(seek, Qt::LeftButton, {}, QPoint(-20, 5));
  QCoreApplication::processEvents();
  EXPECT_TRUE(movie.gotos_.empty());

  Click("play");
  EXPECT_TRUE(movie.Playing());
  Click("stop");
  EXPECT_FALSE(movie.Playing());
}

TEST_F(WindowTest, StatusLineShowsPositionSizeAndRate) {
  OpenTinyMovie(550, 400, 12, 240);
  EXPECT_EQ(window->MovieFps(), 12);
  EXPECT_EQ(window->Player()->size(), QSize(550, 400));
  EXPECT_EQ(Find<QPushButton>("grip")->pos(), QPoint(542, 392));
  movie.Stop();
  movie.GotoFrame(60);
  window->RefreshStatus();
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "25% (60/240 550x400) 12fps");
  EXPECT_EQ(Find<QSlider>("seekBar")->value(), 60);
  // The status timer does the same once a second while the window runs.
  movie.GotoFrame(120);
  QTest::qWait(1100);
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "50% (120/240 550x400) 12fps");
}

TEST_F(WindowTest, OpenAndCloseFollowTheEnablingTable) {
  prompts.open_answers.push_back({});  // cancelled: nothing changes
  Click("open");
  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "Open file");
  EXPECT_TRUE(Find<QPushButton>("open")->isEnabled());
  EXPECT_EQ(prompts.filters.front(), "Flash (*.swf);;All Files (*) | *.swf");

  Find<QComboBox>("backgroundColor")->setCurrentText("Red");
  const std::string path = OpenTinyMovie(300, 200, 24, 48);
  EXPECT_EQ(Find<QLineEdit>("swfName")->text().toStdString(), path);
  EXPECT_EQ(movie.background_, 0xFF0000);
  EXPECT_EQ(movie.movie_, path);
  EXPECT_TRUE(movie.Playing());
  EXPECT_FALSE(Find<QPushButton>("open")->isEnabled());
  for (const char* on : {"captureFrames", "getSoundFile", "close"}) EXPECT_TRUE(Find<QPushButton>(on)->isEnabled());

  window->RefreshStatus();
  EXPECT_TRUE(Find<QLabel>("statusLine")->text().endsWith("fps"));

  Click("close");
  for (const char* off : {"prev50", "next50", "captureFrames", "close", "getSoundFile"})
    EXPECT_FALSE(Find<QPushButton>(off)->isEnabled()) << off;
  EXPECT_TRUE(Find<QPushButton>("open")->isEnabled());
  EXPECT_EQ(movie.ReadyState(), 0);  // placeholder: no movie shown
  // Neither the name box nor the status line speaks of the closed movie.
  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "No movie loaded");
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "No movie loaded");
  EXPECT_TRUE(window->MoviePath().isEmpty());
  // The status timer leaves that alone, also with the placeholder loaded.
  movie.SetMovie(path);
  window->RefreshStatus();
  EXPECT_EQ(Find<QLabel>("statusLine")->text(), "No movie loaded");
  movie.SetMovie({});

  // Open makes the movie positionable again: Prev 50 and Next 50 come back.
  OpenTinyMovie(300, 200, 24, 48);
  EXPECT_TRUE(Find<QPushButton>("prev50")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("next50")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("getSoundFile")->isEnabled());
}

TEST_F(WindowTest, CustomBackgroundColourAndBrokenMovie) {
  auto* colors = Find<QComboBox>("backgroundColor");
  prompts.picked = QColor(0x12, 0x34, 0x56);
  colors->setCurrentIndex(colors->count() - 1);
  emit colors->activated(colors->count() - 1);
  OpenTinyMovie(100, 100, 12, 10);
  EXPECT_EQ(movie.background_, 0x123456);
  Click("close");

}

TEST_F(WindowTest, OpenRefusesAFileThatIsNotAMovieAtOnce) {
  // A file that is no movie: the error names it at Open, and the window
  // stays as it was, with nothing to capture.
  const auto junk = Home() / "junk.swf";
  { std::ofstream(junk) << "nothing here"; }
  const QSize before = window->Player()->size();
  prompts.open_answers.push_back(QString::fromStdString(junk.string()));
  Click("open");
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_EQ(prompts.messages.front(), "Error:: Can not open " + QString::fromStdString(junk.string()) + ": not a movie");
  EXPECT_EQ(window->Player()->size(), before);
  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "Open file");
  EXPECT_TRUE(Find<QPushButton>("open")->isEnabled());
  for (const char* off : {"close", "captureFrames", "getSoundFile"})
    EXPECT_FALSE(Find<QPushButton>(off)->isEnabled()) << off;
  EXPECT_EQ(movie.ReadyState(), 0);
  EXPECT_TRUE(movie.movie_.empty());  // back to what the player held

  // After a refused file, a good one opens as usual.
  OpenTinyMovie(120, 90, 12, 10);
  EXPECT_EQ(window->Player()->size(), QSize(120, 90));
  EXPECT_TRUE(Find<QPushButton>("captureFrames")->isEnabled());
  // A refused file while a movie was closed brings back the placeholder.
  Click("close");
  const std::string placeholder = movie.movie_;
  prompts.open_answers.push_back(QString::fromStdString(junk.string()));
  Click("open");
  EXPECT_EQ(movie.movie_, placeholder);
  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "No movie loaded");
}

TEST_F(WindowTest, DroppingAMovieOnTheWindowOpensIt) {
  const std::string path = (Home() / "dropped.swf").string();
  WriteTinySwf(path, 200, 150, 12, 20);
  auto drop = [this](const QString& file) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &dropped);
    return accepted;
  };
  EXPECT_TRUE(window->acceptDrops());
  EXPECT_TRUE(drop(QString::fromStdString(path)));
  EXPECT_EQ(window->MoviePath().toStdString(), path);
  EXPECT_EQ(movie.movie_, path);
  EXPECT_EQ(window->Player()->size(), QSize(200, 150));
  EXPECT_TRUE(Find<QPushButton>("captureFrames")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("open")->isEnabled());
  // A second movie dropped replaces the first.
  const std::string other = (Home() / "other.swf").string();
  WriteTinySwf(other, 100, 100, 12, 20);
  drop(QString::fromStdString(other));
  EXPECT_EQ(window->MoviePath().toStdString(), other);
  EXPECT_EQ(window->Player()->size(), QSize(100, 100));
  // Several files at once are not taken.
  QMimeData two;
  two.setUrls({QUrl::fromLocalFile(QString::fromStdString(path)), QUrl::fromLocalFile(QString::fromStdString(other))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &two, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(window.get(), &enter);
  EXPECT_FALSE(enter.isAccepted());
}

TEST_F(WindowTest, StartupSelectsTheRecordingInputAndFillsTheCodecList) {
  QTest::qWait(700);
  ASSERT_EQ(window->StartupRuns(), 1);
  // The loopback mixer's recording sources; the last whose name holds "Mix"
  // or "Out" is chosen.
  auto* devices = Find<QComboBox>("soundDevice");
  ASSERT_EQ(devices->count(), 3);
  EXPECT_EQ(devices->itemText(2), "Stereo Mix");
  EXPECT_EQ(devices->currentIndex(), 2);
  EXPECT_EQ(Find<QSlider>("waveOutVolume")->value(), 95);
  // The codec list starts with "No Compression" and one entry is chosen.
  auto* codecs = Find<QComboBox>("codec");
  ASSERT_GE(codecs->count(), 1);
  EXPECT_EQ(codecs->itemText(0), "No Compression");
  EXPECT_TRUE(codecs->currentText().startsWith("DIVX")) << codecs->currentText().toStdString();  // the default rule

  // Moving the master bar reaches the mixer: the start-up reads it back.
  Find<QSlider>("masterVolume")->setValue(40);
  EXPECT_EQ(sound::RunStartupSelection(mixer).master_volume, 40);
  // A bit-depth change rebuilds the list and picks the default again.
  auto* depth = Find<QComboBox>("bitDepth");
  depth->setCurrentIndex(2);
  emit depth->activated(2);
  EXPECT_EQ(codecs->itemText(0), "No Compression");
  EXPECT_GE(codecs->currentIndex(), 0);
}

TEST_F(WindowTest, AdvanceShowsTheChosenCompressorsSettings) {
  QTest::qWait(700);
  auto* codecs = Find<QComboBox>("codec");
  codecs->setCurrentIndex(0);
  emit codecs->activated(0);
  Click("advance");  // "No Compression": nothing to configure
  EXPECT_TRUE(prompts.configured.isEmpty());
  for (int i = 1; i < codecs->count(); ++i) {
    codecs->setCurrentIndex(i);
    emit codecs->activated(i);
    Click("advance");
  }
  // Compressors with settings of their own asked for them, titled with
  // their description; the MPEG-4 one is always built into FFmpeg.
  EXPECT_LE(prompts.configured.size(), codecs->count() - 1);
  EXPECT_TRUE(prompts.configured.contains("MPEG-4 Part 2 video (DIVX)")) << prompts.configured.join(", ").toStdString();
}

TEST_F(WindowTest, EditFrameOpensTheCaptureFolder) {
  Click("editFrame");
  ASSERT_EQ(prompts.opened_folders.size(), 1);
  EXPECT_EQ(prompts.opened_folders.front().toStdString(), (Home() / "temp").string());
  EXPECT_FALSE(std::filesystem::exists(Home() / "temp"));  // nothing is created for it
  EXPECT_TRUE(prompts.messages.isEmpty());
  // When no program can open it, the user is told so.
  prompts.folder_opens = false;
  Click("editFrame");
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages.front().startsWith("No program could open the capture folder "));
  EXPECT_TRUE(prompts.messages.front().contains(QString::fromStdString((Home() / "temp").string())));
}

TEST_F(WindowTest, NoTextIsCut) {
  // With the codec list filled, and a movie's status in the status line.
  QTest::qWait(700);
  OpenTinyMovie(550, 400, 12, 240);
  window->RefreshStatus();
  const QStringList cut = CutTexts(window.get());
  EXPECT_TRUE(cut.isEmpty()) << cut.join("\n").toStdString();
  // The grip draws its "<>" inside its 15 x 14 pixels.
  auto* grip = Find<QPushButton>("grip");
  EXPECT_EQ(grip->size(), QSize(15, 14));
  EXPECT_LE(QFontMetrics(grip->font()).horizontalAdvance("<>"), grip->width() - 2);
  EXPECT_LE(QFontMetrics(grip->font()).ascent(), grip->height() - 2);
}

TEST_F(WindowTest, CaptionsAreSpelledRight) {
  QStringList texts;
  for (const QLabel* label : window->findChildren<QLabel*>()) texts << label->text();
  for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) texts << button->text();
  for (const QTabWidget* tabs : window->findChildren<QTabWidget*>())
    for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
  const QString all = texts.join('|');
  for (const char* wrong : {"Volime", "Prview", "Corp ", "Buttom", "PCM video"})
    EXPECT_FALSE(all.contains(QLatin1String(wrong))) << wrong;
  for (const char* right : {"Master Volume:", "Quick Preview", "Crop && Zoom", "Bottom", "PCM audio format"})
    EXPECT_TRUE(all.contains(QLatin1String(right))) << right;
}

TEST_F(WindowTest, GetSoundFileReportsWhatItFound) {
  const std::string path = OpenTinyMovie(100, 100, 12, 5);
  Click("getSoundFile");
  ASSERT_FALSE(prompts.messages.isEmpty());
  EXPECT_EQ(prompts.messages.back(), "No sound tag found !");

  // A movie that vanished: the extraction's error is shown, nothing crashes.
  std::filesystem::remove(path);
  prompts.messages.clear();
  Click("getSoundFile");
  EXPECT_LE(prompts.messages.size(), 1);
}

TEST_F(WindowTest, ClosingTheWindowDeletesEveryFrameFileAndTheRecording) {
  const auto folder = Home() / "temp";
  std::filesystem::create_directories(folder);
  for (const char* name : {"1.bmp", "10000.bmp", "10001.bmp", "250000.bmp", "_temp.wav", "3.jpg", "notes.txt"})
    std::ofstream(folder / name) << "x";
  std::ofstream(Home() / "uncompress.swf") << "x";
  window->close();
  EXPECT_FALSE(window->isVisible());
  for (const char* gone : {"1.bmp", "10000.bmp", "10001.bmp", "250000.bmp", "_temp.wav"})
    EXPECT_FALSE(std::filesystem::exists(folder / gone)) << gone;
  for (const char* kept : {"3.jpg", "notes.txt"}) EXPECT_TRUE(std::filesystem::exists(folder / kept)) << kept;
  EXPECT_TRUE(std::filesystem::exists(Home() / "uncompress.swf"));
}

TEST_F(WindowTest, ClosingWithoutACaptureFolderIsSilent) {
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(std::filesystem::exists(Home() / "temp"));
  EXPECT_TRUE(prompts.messages.isEmpty());
}

}  // namespace
}  // namespace quarvel::testing
