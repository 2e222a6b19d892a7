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

#include "app/flash_widget.h"
#include "app/gif_preview.h"
#include "app/window_fixture.h"
#include "capture/frame_store.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"

namespace quarvel::testing {
namespace {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
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
  for (const char* off : {"prev50", "next50", "captureFrames", "close"})
    EXPECT_FALSE(Find<QPushButton>(off)->isEnabled()) << off;
  for (const char* on : {"open", "getSoundFile", "previewGif", "saveGif", "saveAvi"})
    EXPECT_TRUE(Find<QPushButton>(on)->isEnabled()) << on;
  OpenTinyMovie(120, 90, 10, 20);
  EXPECT_FALSE(Find<QPushButton>("prev50")->isEnabled());
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

  // Prev at 1 stays; without pictures Next only moves the number.
  Click("prevFrame");
  EXPECT_EQ(window->ShownFrame(), 1);
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 2);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "1");
  // A JPEG picture of frame 3 is shown when present.
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(QColor(10, 200, 30));
  ASSERT_TRUE(picture.save(QString::fromStdString((Home() / "temp/3.jpg").string()), "JPG", 95));
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 3);
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "3");
  EXPECT_EQ(window->FrameView().Width(), 40);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(40, 30));
  const gdi::Color c = window->FrameView().GetPixel(20, 15);
  EXPECT_NEAR(c.g, 200, 6);
  // Next stops at the last frame.
  for (int i = 0; i < n + 5; ++i) QTest::mouseClick(Find<QPushButton>("nextFrame"), Qt::LeftButton);
  EXPECT_EQ(window->ShownFrame(), n);
  // A damaged picture is an error shown in a box; the command is abandoned.
  std::ofstream(Home() / ("temp/" + std::to_string(n - 1) + ".jpg")) << "broken";
  Click("prevFrame");
  EXPECT_FALSE(prompts.messages.isEmpty());
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
  // Margins that leave nothing change nothing.
  Find<QSpinBox>("cropLeft")->setValue(90);
  EXPECT_EQ(window->PreviewImage()->size(), QSize(70, 60));
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

  // Cancelling writes nothing.
  std::filesystem::remove(out);
  Click("saveGif");
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
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "Avi Done");
  EXPECT_FALSE(progress->isVisible());
  const std::string probe = Shell("ffprobe -v error -count_frames -show_entries stream=codec_type,width,height,nb_read_frames "
                                "-of csv=p=0 '" + out.string() + "'");
  EXPECT_NE(probe.find("video,104,80," + std::to_string(n)), std::string::npos) << probe;  // 100 -> 104
  EXPECT_EQ(probe.find("audio"), std::string::npos) << probe;

  // An existing file and "No": nothing is written.
  const auto size = std::filesystem::file_size(out);
  prompts.yes = false;
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  EXPECT_EQ(std::filesystem::file_size(out), size);
  EXPECT_TRUE(prompts.messages.contains("File exists, overwrite?"));
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
  EXPECT_EQ(Find<QLabel>("frameLabel")->text(), "MP3 Create");
  ASSERT_TRUE(std::filesystem::exists(out)) << prompts.messages.join("; ").toStdString();
  const std::string probe = Shell("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + out.string() + "'");
  EXPECT_NE(probe.find("mp3"), std::string::npos) << probe;
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

}  // namespace
}  // namespace quarvel::testing
