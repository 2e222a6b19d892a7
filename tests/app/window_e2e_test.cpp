// End to end: the real window over the real player, recorder and writers,
// driven by mouse clicks on its widgets, as a user would: open the sample
// movie, capture it live, pick a thumbnail, step with Next, and save a GIF
// and an AVI, which giflib and ffprobe then read. Runs under Xvfb when
// there is one (see run_under_xvfb.sh), else offscreen.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <memory>
#include <tuple>

#include "support/shell.h"
#include "flash/flash_movie_control.h"
#include "app/flash_widget.h"
#include "app/window_fixture.h"
#include "gif/giflib_reader.h"
#include "platform/audio/steered_clock.h"
#include "player/sound/sound_output.h"

namespace quarvel::testing {
namespace {
namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    char pattern[] = "/tmp/quarvel_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    setenv("QUARVEL_HOME", pattern, 1);
    // Wired as the program wires itself: one clock for the player, its
    // sound and the recording.
    clock = std::make_shared<audio::SteeredClock>();
    control = std::make_unique<flash::FlashMovieControl>(audio::LoopbackBus::Instance(), clock);
    progress = std::make_unique<app::ProgressBox>();
    window = std::make_unique<app::MainWindow>(
        app::WindowServices{*control, *clock, prompts, *progress, mixer, mci::Mci::Instance()});
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    progress.reset();
    control.reset();
    std::error_code ec;
    fs::remove_all(home, ec);
    unsetenv("QUARVEL_HOME");
  }
  template <typename T>
  T* Find(const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Scrolls the page, as a user would on a screen too small for it, until
  // the control is in view.
  void Reveal(QWidget* control) {
    if (auto* page = window->findChild<QScrollArea*>(QStringLiteral("contentScroller"))) {
      page->ensureWidgetVisible(control, 0, 0);
      QCoreApplication::processEvents();
    }
  }
  // A left click in the middle of a control, as the mouse gives it.
  void Click(const char* name) {
    auto* button = Find<QPushButton>(name);
    ASSERT_TRUE(button->isEnabled()) << name;
    Reveal(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
  }
  void ClickTab(const char* tabs, int index) {
    QTabBar* bar = Find<QTabWidget>(tabs)->tabBar();
    Reveal(bar);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    ASSERT_EQ(bar->currentIndex(), index);
  }
  QString Label() { return Find<QLabel>("frameLabel")->text(); }

  fs::path home;
  std::shared_ptr<audio::SteeredClock> clock;
  std::unique_ptr<flash::FlashMovieControl> control;
  mixer::LoopbackMixer mixer{audio::LoopbackBus::Instance()};
  ScriptedPrompts prompts;
  std::unique_ptr<app::ProgressBox> progress;
  std::unique_ptr<app::MainWindow> window;
};

TEST_F(WindowEndToEnd, OpenCaptureBrowseAndSaveGifAndAvi) {
  std::printf("[ platform ] %s\n", qPrintable(QGuiApplication::platformName()));
  const fs::path sample = fs::path(QUARVEL_BINARY_DIR) / "sample.swf";
  ASSERT_TRUE(fs::exists(sample)) << sample;
  const fs::path movie = home / "sample movie.swf";
  fs::copy_file(sample, movie);

  // Open.
  prompts.open_answers.push_back(QString::fromStdString(movie.string()));
  Click("open");
  ASSERT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join("; ").toStdString();
  EXPECT_EQ(Find<QLineEdit>("swfName")->text().toStdString(), movie.string());
  const QSize player = window->Player()->size();
  EXPECT_GT(player.width(), 100);

  // Capture, live, with the PCM recording.
  Find<QComboBox>("soundQuality")->setCurrentIndex(3);
  Find<QSpinBox>("latency")->setValue(100);
  ASSERT_FALSE(Find<QCheckBox>("frameExact")->isChecked());
  Click("captureFrames");
  const int n = window->CapturedFrameCount();
  EXPECT_GE(n, 30);  // four seconds at 100 ms
  EXPECT_EQ(Label(), "Capture finished");
  ASSERT_TRUE(fs::exists(home / "temp/_temp.wav")) << prompts.messages.join("; ").toStdString();

  // A thumbnail, then Next.
  auto* thumbnails = Find<QListWidget>("thumbnails");
  ASSERT_GE(thumbnails->count(), 3);
  const QRect second = thumbnails->visualItemRect(thumbnails->item(1));
  Reveal(thumbnails);
  QTest::mouseClick(thumbnails->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(window->ShownFrame(), 11);
  EXPECT_EQ(Label(), "11");
  Click("nextFrame");
  EXPECT_EQ(window->ShownFrame(), 12);
  EXPECT_EQ(Label(), "12");
  EXPECT_EQ(window->FrameView().Width(), player.width());

  // Save GIF.
  ClickTab("innerPages", 2);
  const fs::path gif = home / "out.gif";
  prompts.save_answers.push_back(QString::fromStdString(gif.string()));
  Click("saveGif");
  EXPECT_EQ(prompts.initial_paths.back().toStdString(), (home / "sample movie.gif").string());
  ASSERT_TRUE(fs::exists(gif)) << prompts.messages.join("; ").toStdString();
  const gif::testing::DecodedGif decoded = gif::testing::DecodeWithGiflib(ReadAll(gif));
  EXPECT_EQ(decoded.screen_width, player.width());
  EXPECT_EQ(decoded.screen_height, player.height());
  EXPECT_GE(static_cast<int>(decoded.frames.size()), 10);
  EXPECT_EQ(decoded.frames.front().delay, 10);

  // Save AVI, with the recording.
  ClickTab("innerPages", 3);
  const fs::path avi = home / "out.avi";
  prompts.save_answers.push_back(QString::fromStdString(avi.string()));
  Click("saveAvi");
  ASSERT_TRUE(fs::exists(avi)) << prompts.messages.join("; ").toStdString();
  EXPECT_EQ(Label(), "Avi Done: out.avi");
  const std::string probe = Shell("ffprobe -v error -count_frames -show_entries "
                                  "stream=codec_type,width,height,nb_read_frames -of csv=p=0 '" +
                                  avi.string() + "'");
  const int width8 = (player.width() + 7) / 8 * 8, height8 = (player.height() + 7) / 8 * 8;
  EXPECT_NE(probe.find("video," + std::to_string(width8) + "," + std::to_string(height8) + "," + std::to_string(n)),
            std::string::npos)
      << probe;
  EXPECT_NE(probe.find("audio"), std::string::npos) << probe;
  EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + avi.string() + "' -f null - 2>&1"), "");
  EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join("; ").toStdString();

  // Into a folder that cannot be written: the label says which save failed
  // and the message names the file and the cause; nothing is left there.
  const ReadOnlyFolder locked(home);
  for (const auto& [tab, button, file, what] :
       {std::tuple{2, "saveGif", "sample.gif", "GIF"}, std::tuple{3, "saveAvi", "sample.avi", "AVI"}}) {
    ClickTab("innerPages", tab);
    const QString denied = QString::fromStdString((locked.Path() / file).string());
    prompts.messages.clear();
    prompts.save_answers.push_back(denied);
    Click(button);
    EXPECT_EQ(Label(), QStringLiteral("%1 Save Failed: %2").arg(what, file));
    EXPECT_EQ(prompts.messages,
              QStringList{"Error:: " + denied + ": cannot write: " + QString::fromStdString(locked.Cause())});
    EXPECT_FALSE(fs::exists(locked.Path() / file));
    EXPECT_FALSE(progress->isVisible());
  }
}

TEST_F(WindowEndToEnd, AFileThatIsNoMovieIsRefusedNamingItOnce) {
  const fs::path junk = home / "notes.swf";
  std::ofstream(junk) << "just some text";
  prompts.open_answers.push_back(QString::fromStdString(junk.string()));
  Click("open");
  ASSERT_EQ(prompts.messages.size(), 1);
  const QString message = prompts.messages.front();
  EXPECT_TRUE(message.startsWith("Error:: Can not open " + QString::fromStdString(junk.string()) + ": "))
      << message.toStdString();
  EXPECT_EQ(message.count(QString::fromStdString(junk.string())), 1) << message.toStdString();
  EXPECT_EQ(Find<QLineEdit>("swfName")->text(), "Open file");
}

}  // namespace
}  // namespace quarvel::testing
