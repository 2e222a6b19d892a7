// The "Save Video" page: MP4 and WebP from a capture, read back by ffprobe;
// a transparent capture refused for MP4 and kept by APNG.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/window_fixture.h"
#include "support/shell.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

class VideoWindowTest : public WindowTest {
 protected:
  void OpenAndCapture() {
    movie.stop_at_end = true;
    OpenTinyMovie(100, 80, 10, 30);
    Click("captureFrames");
    ASSERT_GE(window->CapturedFrameCount(), 11);
  }
  void ChooseVideoPage(int format) {
    auto* pages = Find<QTabWidget>("outerPages");
    ASSERT_EQ(pages->tabText(1), "Save Video");
    pages->setCurrentIndex(1);
    Find<QComboBox>("videoFormat")->setCurrentIndex(format);
  }
  std::string Probe(const fs::path& file) {
    return Shell("ffprobe -v error -count_packets -show_entries stream=codec_name,width,height,nb_read_packets -of "
                 "csv=p=0 '" + file.string() + "'");
  }
};

TEST_F(VideoWindowTest, SaveVideoWritesMp4AndWebpWithTheProgressBox) {
  EXPECT_FALSE(Find<QPushButton>("saveVideo")->isEnabled()) << "nothing captured yet";
  OpenAndCapture();
  const int n = window->CapturedFrameCount();
  EXPECT_TRUE(Find<QPushButton>("saveVideo")->isEnabled());
  // "Audio" shows no sound where the format holds none, and comes back as
  // the user left it.
  auto* audio = Find<QCheckBox>("videoAudio");
  ChooseVideoPage(0);
  ASSERT_TRUE(audio->isChecked());
  for (const int silent : {2, 3}) {
    ChooseVideoPage(silent);
    EXPECT_FALSE(audio->isEnabled()) << silent;
    EXPECT_FALSE(audio->isChecked()) << silent;
  }
  ChooseVideoPage(1);
  EXPECT_TRUE(audio->isEnabled());
  EXPECT_TRUE(audio->isChecked());
  ChooseVideoPage(0);
  audio->setChecked(false);
  const fs::path mp4 = Home() / "clip.mp4";
  prompts.save_answers.push_back(QString::fromStdString(mp4.string()));
  Click("saveVideo");
  ASSERT_TRUE(fs::exists(mp4)) << prompts.messages.join("; ").toStdString();
  EXPECT_FALSE(progress->isVisible());
  EXPECT_FALSE(window->Busy());
  EXPECT_EQ(Probe(mp4), "h264,100,80," + std::to_string(n) + "\n");
  EXPECT_TRUE(prompts.filters.back().contains("*.mp4"));
  for (const auto& e : fs::directory_iterator(Home()))
    EXPECT_EQ(e.path().filename().string().find("~VTemp"), std::string::npos) << e.path();

  // WebP takes no sound: the box follows the format.
  ChooseVideoPage(2);
  EXPECT_FALSE(Find<QCheckBox>("videoAudio")->isEnabled());
  const fs::path webp = Home() / "clip.webp";
  prompts.save_answers.push_back(QString::fromStdString(webp.string()));
  Click("saveVideo");
  std::ifstream in(webp, std::ios::binary);
  const std::string head(std::istreambuf_iterator<char>(in), {});
  ASSERT_GE(head.size(), 16u) << prompts.messages.join("; ").toStdString();
  EXPECT_EQ(head.substr(0, 4), "RIFF");
  EXPECT_EQ(head.substr(8, 8), "WEBPVP8X");
}

TEST_F(VideoWindowTest, TransparentCaptureIsRefusedForMp4AndKeptByApng) {
  auto* colors = Find<QComboBox>("backgroundColor");
  const int transparent = colors->findText("Transparent");
  ASSERT_EQ(transparent, colors->count() - 2) << "before Custom..., after the standard colours";
  colors->setCurrentIndex(transparent);
  OpenAndCapture();
  ChooseVideoPage(0);
  Click("saveVideo");
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages.front().contains("transparent")) << prompts.messages.front().toStdString();
  EXPECT_TRUE(prompts.messages.front().contains(".webm"));
  EXPECT_FALSE(progress->isVisible());
  EXPECT_FALSE(window->Busy());

  ChooseVideoPage(3);
  EXPECT_FALSE(Find<QComboBox>("videoQuality")->isEnabled()) << "APNG is lossless";
  const fs::path png = Home() / "clip.png";
  prompts.save_answers.push_back(QString::fromStdString(png.string()));
  Click("saveVideo");
  ASSERT_TRUE(fs::exists(png)) << prompts.messages.join("; ").toStdString();
  EXPECT_NE(Probe(png).find("apng,100,80"), std::string::npos);
  EXPECT_NE(Shell("ffprobe -v error -show_entries stream=pix_fmt -of csv=p=0 '" + png.string() + "'").find("rgba"),
            std::string::npos);
}

}  // namespace
}  // namespace quarvel::testing
