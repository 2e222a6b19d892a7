// The window's commands that need a capture: the capture itself, the frame
// browser, crop and zoom, and the GIF, AVI and MP3 saves.

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "support/shell.h"
#include "app/flash_widget.h"
#include "app/gif_preview.h"
#include "app/window_fixture.h"
#include "capture/frame_store.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"
#include "platform/audio/steered_clock.h"

namespace quarvel::testing {
namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class CaptureWindowTest : public WindowTest {
 protected:
  // A 30-frame movie at 10 fps that stops on its last frame: with the
  // latency of 250 ms the capture ends by itself after about 12 ticks.
  void OpenAndCapture() {
    movie.stop_at_end = true;
    OpenTinyMovie(100, 80, 10, 30);
    Click("captureFrames");
  }
  // Clicks `button` once the capture has taken `ticks` frames.
  void ClickDuringCapture(const char* button, int ticks) {
    auto* timer = new QTimer(window.get());
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, window.get(), [this, timer, button, ticks] {
      if (window->CapturedFrameCount() >= ticks) {
        timer->stop();
        QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
      }
    });
    timer->start();
  }
  QStringList Thumbnails() {
    QStringList captions;
    auto* list = Find<QListWidget>("thumbnails");
    for (int i = 0; i < list->count(); ++i) captions << list->item(i)->text();
    return captions;
  }
};

TEST_F(CaptureWindowTest, CaptureThatEndsByItself) {
  OpenAndCapture();
  const int n = window->CapturedFrameCount();
  ASSERT_GE(n, 11);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Capture finished");
  EXPECT_FALSE(window->Busy());
  // Frames 1, 11, ... and the last are always stored and made thumbnails.
  EXPECT_TRUE(std::filesystem::exists(Home() / "temp/1.bmp"));
  EXPECT_TRUE(std::filesystem::exists(Home() / "temp/11.bmp"));
  EXPECT_TRUE(std::filesystem::exists(Home() / ("temp/" + std::to_string(n) + ".bmp")));
  QStringList expected = {"1", "11"};
  if (n > 21) expected << "21";
  if (n % 10 != 1) expected << QString::number(n);
  EXPECT_EQ(Thumbnails(), expected);
  EXPECT_EQ(window->ShownFrame(), n);
  // The frame view holds the last frame at the player's size.
  EXPECT_EQ(window->FrameView().Width(), 100);
  EXPECT_EQ(window->FrameView().Height(), 80);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(100, 80));
  EXPECT_EQ(Find<QLabel>("zoomLabel")->text(), "% (100x80)");
  // The enabling after a capture.
  for (const char* on : {"captureFrames", "close", "previewGif", "saveGif", "saveAvi"})
    EXPECT_TRUE(Find<QPushButton>(on)->isEnabled()) << on;
  EXPECT_FALSE(Find<QPushButton>("saveMp3")->isEnabled());  // ADPCM recording
  EXPECT_TRUE(Find<QTabWidget>("innerPages")->isEnabled());
}

TEST_F(CaptureWindowTest, StopEndsACaptureAfterTheCurrentTick) {
  movie.stop_at_end = true;
  OpenTinyMovie(100, 80, 10, 300);
  ClickDuringCapture("stop", 3);
  Click("captureFrames");
  EXPECT_EQ(window->CapturedFrameCount(), 3);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Capture finished");
  EXPECT_EQ(Thumbnails(), QStringList{"1"});  // no final thumbnail after a button
  EXPECT_TRUE(Find<QPushButton>("captureFrames")->isEnabled());
}

TEST_F(CaptureWindowTest, EnablingThroughOpenCaptureCloseOpen) {
  OpenAndCapture();
  Click("close");
  for (const char* off : {"prev50", "next50", "captureFrames", "close", "getSoundFile"})
    EXPECT_FALSE(Find<QPushButton>(off)->isEnabled()) << off;
  // The captured frames can still be saved.
  for (const char* on : {"open", "previewGif", "saveGif", "saveAvi"})
    EXPECT_TRUE(Find<QPushButton>(on)->isEnabled()) << on;
  OpenTinyMovie(120, 90, 10, 20);
  EXPECT_TRUE(Find<QPushButton>("prev50")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("captureFrames")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("open")->isEnabled());
  // A second capture starts from an empty store and a PCM recording makes
  // "Save to MP3" available.
  Find<QComboBox>("soundQuality")->setCurrentIndex(3);
  Click("captureFrames");
  EXPECT_TRUE(Find<QPushButton>("saveMp3")->isEnabled());
  EXPECT_EQ(window->FrameView().Width(), 120);
}

TEST_F(CaptureWindowTest, ThumbnailsAndPrevNextShowFrames) {
  OpenAndCapture();
  const int n = window->CapturedFrameCount();
  auto* list = Find<QListWidget>("thumbnails");
  list->setCurrentRow(1);  // frame 11
  EXPECT_EQ(window->ShownFrame(), 11);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "11");
  const gdi::Bitmap eleven = capture::LoadFramePicture(Home() / "temp/11.bmp");
  EXPECT_TRUE(capture::FramesEqual(window->FrameView(), eleven));
  if (n % 10 != 1) {
    // The last thumbnail shows its own frame, not frame 10k + 1.
    list->setCurrentRow(list->count() - 1);
    EXPECT_EQ(window->ShownFrame(), n);
    EXPECT_EQ(Find<QLabel>("frameLabel")->text(), QString::number(n));
  }
  list->setCurrentRow(0);
  ASSERT_EQ(window->ShownFrame(), 1);

  // Prev at 1 stays; Next and Prev browse the captured frames, with the
  // label and the preview as a thumbnail gives them.
  Click("prevFrame");
  EXPECT_EQ(window->ShownFrame(), 1);
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 2);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "2");
  EXPECT_TRUE(capture::FramesEqual(window->FrameView(), capture::LoadFramePicture(Home() / "temp/2.bmp")));
  EXPECT_FALSE(capture::FramesEqual(window->FrameView(), eleven));
  // A left-out number shows the frame before it.
  ASSERT_TRUE(std::filesystem::remove(Home() / "temp/3.bmp"));
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 3);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "3");
  EXPECT_TRUE(capture::FramesEqual(window->FrameView(), capture::LoadFramePicture(Home() / "temp/2.bmp")));
  Click("prevFrame");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "2");
  // Crop and zoom apply to what Next shows.
  Find<QSpinBox>("zoom")->setValue(50);
  Click("nextFrame");
  EXPECT_EQ(window->PreviewImage()->size(), QSize(50, 40));
  Find<QSpinBox>("zoom")->setValue(100);
  // Next stops at the last frame.
  for (int i = 0; i < n + 5; ++i) QTest::mouseClick(Find<QPushButton>("nextFrame"), Qt::LeftButton);
  EXPECT_EQ(window->ShownFrame(), n);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), QString::number(n));
  // A damaged frame file is an error shown in a box; the command is abandoned.
  std::ofstream(Home() / ("temp/" + std::to_string(n - 1) + ".bmp"), std::ios::trunc) << "broken";
  Click("prevFrame");
  EXPECT_FALSE(prompts.messages.isEmpty());
}

TEST_F(CaptureWindowTest, PrevAndNextShowAFrameEditedAsJpeg) {
  OpenAndCapture();
  Find<QListWidget>("thumbnails")->setCurrentRow(0);
  ASSERT_EQ(window->ShownFrame(), 1);
  // Frame 2 edited outside: a 30 x 20 green picture saved as temp/2.jpg.
  QImage edited(30, 20, QImage::Format_RGB32);
  edited.fill(QColor(0, 200, 0));
  ASSERT_TRUE(edited.save(QString::fromStdString((Home() / "temp/2.jpg").string()), "JPEG", 100));
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 2);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "2");
  ASSERT_EQ(window->FrameView().Width(), 30);
  ASSERT_EQ(window->FrameView().Height(), 20);
  const gdi::Color c = window->FrameView().GetPixel(10, 10);
  EXPECT_NEAR(c.g, 200, 3);
  EXPECT_LT(c.r + c.b, 10);
  // Frames without a picture show the captured frame again.
  Click("nextFrame");
  EXPECT_NE(window->FrameView().Width(), 30);
  // A .jpg that is no JPEG is an error naming the file; the frame stays.
  std::ofstream(Home() / "temp/2.jpg", std::ios::trunc | std::ios::binary) << "not a picture";
  prompts.messages.clear();
  Click("prevFrame");
  ASSERT_FALSE(prompts.messages.isEmpty());
  EXPECT_TRUE(prompts.messages.back().contains("2.jpg")) << prompts.messages.back().toStdString();
}

TEST_F(CaptureWindowTest, CropAndZoomRebuildThePreview) {
  OpenAndCapture();
  Find<QTabWidget>("innerPages")->setCurrentIndex(1);
  Find<QSpinBox>("zoom")->setValue(50);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(50, 40));
  EXPECT_EQ(Find<QLabel>("zoomLabel")->text(), "% (50x40)");
  Find<QSpinBox>("zoom")->setValue(100);
  Find<QSpinBox>("cropLeft")->setValue(10);
  Find<QSpinBox>("cropRight")->setValue(20);
  Find<QSpinBox>("cropTop")->setValue(5);
  Find<QSpinBox>("cropBottom")->setValue(15);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(70, 60));
  // The preview shows the frame's pixels from column 10 and row 5 on.
  const QImage shown = window->PreviewImage()->pixmap().toImage();
  const gdi::Color c = window->FrameView().GetPixel(10, 5);
  EXPECT_EQ(QColor(shown.pixel(0, 0)), QColor(c.r, c.g, c.b));
  // Margins that would leave nothing cannot be entered: each box stops
  // where one column or row is left, and the size label follows.
  EXPECT_EQ(Find<QSpinBox>("cropLeft")->maximum(), 79);
  EXPECT_EQ(Find<QSpinBox>("cropBottom")->maximum(), 74);
  Find<QSpinBox>("cropLeft")->setValue(90);
  EXPECT_EQ(Find<QSpinBox>("cropLeft")->value(), 79);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(1, 60));
  EXPECT_EQ(Find<QLabel>("zoomLabel")->text(), "% (1x60)");
  EXPECT_EQ(Find<QSpinBox>("cropRight")->maximum(), 20);
  Find<QSpinBox>("cropLeft")->setValue(0);
  EXPECT_EQ(Find<QSpinBox>("cropRight")->maximum(), 99);
  // A save then has a frame to write.
  Find<QCheckBox>("audio")->setChecked(false);
  Find<QSpinBox>("cropBottom")->setValue(999);
  prompts.save_answers.push_back(QString::fromStdString((Home() / "thin.avi").string()));
  Click("saveAvi");
  EXPECT_TRUE(std::filesystem::exists(Home() / "thin.avi")) << prompts.messages.join("; ").toStdString();
}

TEST_F(CaptureWindowTest, PreviewGifPlaysAndSaveToGifWritesIt) {
  OpenAndCapture();
  const int n = window->CapturedFrameCount();
  Find<QTabWidget>("innerPages")->setCurrentIndex(2);
  Find<QRadioButton>("bestQuality")->setChecked(true);
  Click("previewGif");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Build Animation GIF Finished");
  EXPECT_FALSE(progress->isVisible());
  ASSERT_TRUE(window->Preview()->HasImage());
  EXPECT_EQ(window->PreviewImage()->size(), QSize(100, 80));
  // The preview plays: the painter hands new pictures to the window.
  QTest::qWait(800);
  EXPECT_GE(window->Preview()->Refreshes(), 2);
  EXPECT_TRUE(window->Preview()->Playing());

  const auto out = Home() / "out dir" / "movie.gif";
  std::filesystem::create_directories(out.parent_path());
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveGif");
  // The dialog started in the movie's folder with its name; the label names
  // the file written.
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (Home() / "movie100.gif").string());
  EXPECT_TRUE(Find<QLabel>("frameLabel")->text().endsWith(": movie.gif")) << Find<QLabel>("frameLabel")->text().toStdString();
  const gif::testing::DecodedGif decoded = gif::testing::DecodeWithGiflib(ReadAll(out));
  EXPECT_EQ(decoded.screen_width, 100);
  EXPECT_EQ(decoded.screen_height, 80);
  ASSERT_EQ(static_cast<int>(decoded.frames.size()), n);  // "Best Quality": every frame whole
  EXPECT_EQ(decoded.frames[0].delay, 25);
  EXPECT_EQ(decoded.frames[0].loop_count, 0);
  EXPECT_EQ(prompts.filters.back(), "*.gif (*.gif);;All Files (*) | gif");

  // "Optimize" writes the same pictures for the same times in fewer bytes.
  const auto small = Home() / "out dir" / "small.gif";
  Find<QCheckBox>("optimizeGif")->setChecked(true);
  prompts.save_answers.push_back(QString::fromStdString(small.string()));
  Click("saveGif");
  Find<QCheckBox>("optimizeGif")->setChecked(false);
  const auto plain_bytes = ReadAll(out), small_bytes = ReadAll(small);
  EXPECT_LT(small_bytes.size(), plain_bytes.size());
  const auto want = gif::testing::ShownPictures(decoded);
  const auto got = gif::testing::ShownPictures(gif::testing::DecodeWithGiflib(small_bytes));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].delay, want[i].delay) << i;
    EXPECT_TRUE(got[i].pixels == want[i].pixels) << i;
  }

  // Cancelling writes nothing; the next dialog starts in the last folder.
  std::filesystem::remove(out);
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (Home() / "out dir" / "movie100.gif").string());
  EXPECT_FALSE(std::filesystem::exists(out));
  // A static picture replaces the animation and stops its painter.
  Find<QListWidget>("thumbnails")->setCurrentRow(0);
  EXPECT_FALSE(window->Preview()->HasImage());
}

TEST_F(CaptureWindowTest, AnErrorEndingABuildRestoresTheWindow) {
  OpenAndCapture();
  std::ofstream(Home() / "temp/11.bmp", std::ios::trunc) << "damaged";
  Find<QTabWidget>("innerPages")->setCurrentIndex(2);
  Click("previewGif");
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages.front().contains("11.bmp")) << prompts.messages.front().toStdString();
  EXPECT_FALSE(progress->isVisible());
  EXPECT_FALSE(window->Busy());
  EXPECT_TRUE(Find<QPushButton>("previewGif")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("captureFrames")->isEnabled());
  // The same for an AVI save.
  Find<QCheckBox>("audio")->setChecked(false);
  prompts.save_answers.push_back(QString::fromStdString((Home() / "bad.avi").string()));
  Click("saveAvi");
  EXPECT_EQ(prompts.messages.size(), 2);
  EXPECT_FALSE(progress->isVisible());
  EXPECT_FALSE(window->Busy());
}

TEST_F(CaptureWindowTest, SaveToAviWritesAVideoThatFfprobeReads) {
  OpenAndCapture();
  const int n = window->CapturedFrameCount();
  Find<QTabWidget>("innerPages")->setCurrentIndex(3);
  Find<QCheckBox>("audio")->setChecked(false);
  const auto out = Home() / "clip.avi";
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  ASSERT_TRUE(std::filesystem::exists(out)) << prompts.messages.join("; ").toStdString();
  EXPECT_FALSE(progress->isVisible());
  const std::string probe = Shell("ffprobe -v error -count_frames -show_entries stream=codec_type,width,height,nb_read_frames "
                                "-of csv=p=0 '" + out.string() + "'");
  EXPECT_NE(probe.find("video,104,80," + std::to_string(n)), std::string::npos) << probe;  // 100 -> 104
  EXPECT_EQ(probe.find("audio"), std::string::npos) << probe;

  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Avi Done: clip.avi");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (Home() / "movie100.avi").string());

  // An existing file: asked once, before any progress is shown.
  bool progress_shown_at_question = true;
  prompts.on_ask = [&] { progress_shown_at_question = progress->isVisible(); };
  const auto size = std::filesystem::file_size(out);
  prompts.yes = false;
  prompts.messages.clear();
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  EXPECT_EQ(std::filesystem::file_size(out), size);
  EXPECT_EQ(prompts.messages, QStringList{"File exists, overwrite?"});
  EXPECT_FALSE(progress_shown_at_question);
  EXPECT_FALSE(progress->isVisible());
  // "Yes": the one question, then the save.
  prompts.yes = true;
  prompts.messages.clear();
  std::filesystem::last_write_time(out, std::filesystem::file_time_type{});
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  EXPECT_EQ(prompts.messages, QStringList{"File exists, overwrite?"});
  EXPECT_NE(std::filesystem::last_write_time(out), std::filesystem::file_time_type{});
}

TEST_F(CaptureWindowTest, AudioWithoutARecordingSavesTheVideoAloneAndSaysSo) {
  OpenAndCapture();
  std::filesystem::remove(Home() / "temp/_temp.wav");
  Find<QTabWidget>("innerPages")->setCurrentIndex(3);
  ASSERT_TRUE(Find<QCheckBox>("audio")->isChecked());
  const auto out = Home() / "silent.avi";
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  ASSERT_TRUE(std::filesystem::exists(out)) << prompts.messages.join("; ").toStdString();
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages.front().contains("without sound")) << prompts.messages.front().toStdString();
  const std::string probe = Shell("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + out.string() + "'");
  EXPECT_NE(probe.find("video"), std::string::npos) << probe;
  EXPECT_EQ(probe.find("audio"), std::string::npos) << probe;
  EXPECT_FALSE(std::filesystem::exists(Home() / "~AWTempsilent.avi"));
}

TEST_F(CaptureWindowTest, ACaptureDisablesTheWholeRightHandSide) {
  movie.stop_at_end = true;
  OpenTinyMovie(100, 80, 10, 300);
  QStringList live;
  auto* timer = new QTimer(window.get());
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, window.get(), [&, timer] {
    if (window->CapturedFrameCount() < 2) return;
    timer->stop();
    for (const char* name : {"getSoundFile", "latency", "prevFrame", "nextFrame", "editFrame", "thumbnails",
                             "frameExact", "saveAvi", "captureFrames"}) {
      auto* w = window->findChild<QWidget*>(QString::fromLatin1(name));
      if (w == nullptr || w->isEnabled()) live << name;
    }
    EXPECT_TRUE(Find<QPushButton>("stop")->isEnabled());
    QTest::mouseClick(Find<QPushButton>("stop"), Qt::LeftButton);
  });
  timer->start();
  Click("captureFrames");
  EXPECT_TRUE(live.isEmpty()) << live.join(", ").toStdString();
  EXPECT_LE(window->CapturedFrameCount(), 3);  // Stop still ends it
  EXPECT_TRUE(Find<QTabWidget>("outerPages")->isEnabled());
  EXPECT_TRUE(Find<QPushButton>("getSoundFile")->isEnabled());
}

TEST_F(CaptureWindowTest, SaveToMp3RunsTheEncoderOnAPcmRecording) {
  Find<QComboBox>("soundQuality")->setCurrentIndex(3);
  OpenAndCapture();
  ASSERT_TRUE(Find<QPushButton>("saveMp3")->isEnabled());
  Find<QTabWidget>("innerPages")->setCurrentIndex(4);
  prompts.save_answers.push_back({});  // cancelled: no process, label unchanged
  Click("saveMp3");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Capture finished");
  ASSERT_TRUE(std::filesystem::exists(Home() / "temp/_temp.wav"))
      << prompts.messages.join("; ").toStdString();
  const auto out = Home() / "sound track.mp3";
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveMp3");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "MP3 Create: sound track.mp3");
  ASSERT_TRUE(std::filesystem::exists(out)) << prompts.messages.join("; ").toStdString();
  const std::string probe = Shell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + out.string() + "'");
  EXPECT_NE(probe.find("mp3"), std::string::npos) << probe;
}

TEST_F(CaptureWindowTest, ASaveThatFailsSaysSoAndNamesTheFileAndTheCause) {
  Find<QComboBox>("soundQuality")->setCurrentIndex(3);  // a PCM recording, for "Save to MP3"
  OpenAndCapture();
  Find<QCheckBox>("audio")->setChecked(false);
  const ReadOnlyFolder locked(Home());
  struct Save {
    const char* button;
    int page;  // on the inner pages; -1: "Save Video"
    const char* file;
    const char* what;
  };
  for (const Save& save : {Save{"saveGif", 2, "movie.gif", "GIF"}, Save{"saveAvi", 3, "movie.avi", "AVI"},
                           Save{"saveMp3", 4, "movie.mp3", "MP3"}, Save{"saveVideo", -1, "movie.mp4", "Video"}}) {
    if (save.page >= 0) Find<QTabWidget>("innerPages")->setCurrentIndex(save.page);
    Find<QTabWidget>("outerPages")->setCurrentIndex(save.page >= 0 ? 0 : 1);
    const QString path = QString::fromStdString((locked.Path() / save.file).string());
    prompts.messages.clear();
    prompts.save_answers.push_back(path);
    Click(save.button);
    EXPECT_EQ(Find<QLabel>("frameLabel")->text(), QStringLiteral("%1 Save Failed: %2").arg(save.what, save.file));
    EXPECT_EQ(prompts.messages,
              QStringList{"Error:: " + path + ": cannot write: " + QString::fromStdString(locked.Cause())});
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(window->Busy());
  }

  // Without its recording an MP3 fails before the encoder runs, as the AVI page tells of it.
  Find<QTabWidget>("outerPages")->setCurrentIndex(0);
  Find<QTabWidget>("innerPages")->setCurrentIndex(4);
  std::filesystem::remove(Home() / "temp/_temp.wav");
  prompts.messages.clear();
  prompts.save_answers.push_back(QString::fromStdString((Home() / "track.mp3").string()));
  Click("saveMp3");
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "MP3 Save Failed: track.mp3");
  EXPECT_EQ(prompts.messages, QStringList{"Error:: There is no recording (" +
                                          QString::fromStdString((Home() / "temp/_temp.wav").string()) +
                                          "), so no MP3 can be made."});
  EXPECT_FALSE(std::filesystem::exists(Home() / "track.mp3"));
}

TEST_F(CaptureWindowTest, SaveDialogsStartInTheMoviesFolderUnlessTheUserChoseAnotherForIt) {
  OpenAndCapture();
  Find<QTabWidget>("innerPages")->setCurrentIndex(2);
  const auto elsewhere = Home() / "elsewhere";
  std::filesystem::create_directories(elsewhere);
  prompts.save_answers.push_back(QString::fromStdString((elsewhere / "sample.gif").string()));
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (Home() / "movie100.gif").string());
  // The whole result and the whole name are read, on two lines if need be.
  auto* label = Find<QLabel>("frameLabel");
  EXPECT_EQ(label->text(), "Build Animation GIF Finished: sample.gif");
  EXPECT_LE(label->heightForWidth(label->contentsRect().width()), label->contentsRect().height());

  // The same movie's next save goes where its last one went; after Close
  // the frames are still that movie's.
  prompts.save_answers.push_back({});
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (elsewhere / "movie100.gif").string());
  Click("close");
  prompts.save_answers.push_back({});
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (elsewhere / "movie100.gif").string());

  // Another movie starts in its own folder, whatever was saved before.
  const auto other = Home() / "other" / "clip.swf";
  std::filesystem::create_directories(other.parent_path());
  WriteTinySwf(other.string(), 100, 80, 10, 30);
  prompts.open_answers.push_back(QString::fromStdString(other.string()));
  Click("open");
  prompts.save_answers.push_back({});
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (Home() / "other" / "clip.gif").string());
}

TEST_F(CaptureWindowTest, TheChosenThumbnailIsReadableAndShowsItsFrameWhenClickedAgain) {
  OpenAndCapture();
  auto* list = Find<QListWidget>("thumbnails");
  Find<QTabWidget>("innerPages")->setCurrentIndex(0);
  const QRect second = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_EQ(window->ShownFrame(), 11);
  Click("nextFrame");
  ASSERT_EQ(window->ShownFrame(), 12);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(window->ShownFrame(), 11);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "11");

  // The caption under the chosen picture stands out from its mark, with the
  // list focused or not.
  for (const bool focused : {true, false}) {
    if (focused) list->setFocus(); else Find<QPushButton>("nextFrame")->setFocus();
    QCoreApplication::processEvents();
    const QImage shot = list->viewport()->grab(second).toImage();
    const QRect caption(0, shot.height() * 2 / 3, shot.width(), shot.height() / 3 - 2);
    int darkest = 255, lightest = 0;
    for (int y = caption.top(); y <= caption.bottom(); ++y)
      for (int x = caption.left() + 2; x < caption.right() - 2; ++x) {
        const int grey = qGray(shot.pixel(x, y));
        darkest = std::min(darkest, grey);
        lightest = std::max(lightest, grey);
      }
    EXPECT_GE(lightest - darkest, 120) << (focused ? "focused" : "not focused");
  }
}

TEST_F(CaptureWindowTest, ClosingDuringACaptureWaitsForItThenCleansUp) {
  movie.stop_at_end = true;
  OpenTinyMovie(100, 80, 10, 300);
  auto* timer = new QTimer(window.get());
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, window.get(), [this, timer] {
    if (window->CapturedFrameCount() >= 2) {
      timer->stop();
      window->close();  // refused while the capture runs; it is asked to stop
      EXPECT_TRUE(window->isVisible());
      // Frame files are written in the background, a few ticks behind.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (!std::filesystem::exists(Home() / "temp/1.bmp") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(std::filesystem::exists(Home() / "temp/1.bmp"));
    }
  });
  timer->start();
  Click("captureFrames");
  EXPECT_LE(window->CapturedFrameCount(), 3);
  QTest::qWait(50);  // the close runs once the capture has returned
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(std::filesystem::exists(Home() / "temp/1.bmp"));
}

// "Frame-exact (offline)": the desktop's clock, real time otherwise, follows
// a virtual clock for the capture, so every tick comes exactly one latency
// after the one before, and real time resumes afterwards.
TEST(FrameExactCapture, RunsOnAVirtualClockThenGivesRealTimeBack) {
  EnsureApplication();
  char pattern[] = "/tmp/quarvel_exact_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path home = pattern;
  setenv("QUARVEL_HOME", pattern, 1);
  ScriptedMovie movie;
  movie.stop_at_end = true;
  audio::SteeredClock clock;
  audio::LoopbackBus bus;
  mixer::LoopbackMixer mixer{bus};
  ScriptedPrompts prompts;
  app::ProgressBox progress;
  {
    app::MainWindow window({movie, clock, prompts, progress, mixer, mci::Mci::Instance()});
    window.SetOpenWaitMs(0);
    window.show();
    const std::string path = (home / "exact.swf").string();
    WriteTinySwf(path, 100, 80, 10, 30);  // three seconds
    ASSERT_TRUE(window.OpenMovie(QString::fromStdString(path)));
    auto* exact = window.findChild<QCheckBox*>("frameExact");
    ASSERT_NE(exact, nullptr);
    EXPECT_FALSE(exact->isChecked());  // the live capture is the default
    exact->setChecked(true);
    // The frame label at every pass of message handling, and whether the
    // clock was steered while the capture ran.
    QStringList labels;
    bool steered_while_busy = false;
    auto* label = window.findChild<QLabel*>("frameLabel");
    auto* watcher = new QTimer(&window);
    watcher->setInterval(0);
    QObject::connect(watcher, &QTimer::timeout, &window, [&] {
      if (window.Busy()) steered_while_busy = clock.Steered();
      if (labels.isEmpty() || labels.back() != label->text()) labels << label->text();
    });
    watcher->start();
    QTest::mouseClick(window.findChild<QPushButton*>("captureFrames"), Qt::LeftButton);
    watcher->stop();
    EXPECT_TRUE(steered_while_busy);
    // The movie ends at 2.9 s: tick 13, at 3000 ms of the capture's clock.
    EXPECT_EQ(window.CapturedFrameCount(), 13);
    EXPECT_EQ(label->text(), "Capture finished");
    // Every tick's label says it came exactly n - 1 latencies after the start.
    int checked = 0;
    for (const QString& text : labels) {
      const int n = text.section(' ', 0, 0).toInt();
      const int at = text.indexOf("Frame,");
      if (n <= 0 || at < 0) continue;
      EXPECT_EQ(text.mid(at + 6).section("ms", 0, 0).toInt(), (n - 1) * 250) << text.toStdString();
      ++checked;
    }
    EXPECT_GE(checked, 3);
    // Real time is back and goes on from the capture's time.
    EXPECT_FALSE(clock.Steered());
    EXPECT_GE(clock.NowMs(), 3000);
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  unsetenv("QUARVEL_HOME");
}

}  // namespace
}  // namespace quarvel::testing
