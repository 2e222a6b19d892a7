#include "app/window_fixture.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/flash_widget.h"

namespace quarvel::testing {

QApplication& EnsureApplication() {
  static int argc = 1;
  static char name[] = "quarvel-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    // Headless, on a 1920 x 1080 screen (the offscreen platform's own is
    // 800 x 600, smaller than the window).
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool offscreen = platform == nullptr || std::string(platform) == "offscreen";
    if (offscreen) {
      const std::string config = "/tmp/quarvel-offscreen-" + std::to_string(getpid()) + ".json";
      std::ofstream(config) << R"({"screens": [{"name": "test", "x": 0, "y": 0, "width": 1920, "height": 1080,
                                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
      setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    }
    auto* created = new QApplication(argc, argv);
    if (offscreen) {
      std::remove(("/tmp/quarvel-offscreen-" + std::to_string(getpid()) + ".json").c_str());
    }
    return created;
  }();
  return *app;
}

namespace {
// Sets or clears the folder's immutable flag; false where that cannot be done.
bool SetImmutable(const std::filesystem::path& folder, bool on) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return done;
}
}  // namespace

ReadOnlyFolder::ReadOnlyFolder(const std::filesystem::path& inside) : path_(inside / "read-only") {
  std::filesystem::create_directories(path_);
  immutable_ = SetImmutable(path_, true);
  if (!immutable_) {
    std::filesystem::remove(path_);
    std::ofstream(inside / "plain file") << "not a folder";
    path_ = inside / "plain file" / "read-only";
  }
  const std::string probe = (path_ / "probe").string();
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    ADD_FAILURE() << path_ << " can be written";
  } else {
    cause_ = std::strerror(errno);
  }
}

ReadOnlyFolder::~ReadOnlyFolder() {
  if (immutable_) SetImmutable(path_, false);
}

void WindowTest::SetUp() {
  EnsureApplication();
  char pattern[] = "/tmp/quarvel_window_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  home = pattern;
  setenv("QUARVEL_HOME", pattern, 1);
  progress = std::make_unique<app::ProgressBox>();
  window = std::make_unique<app::MainWindow>(
      app::WindowServices{movie, clock, prompts, *progress, mixer, mci::Mci::Instance()});
  window->SetOpenWaitMs(0);
  window->show();
}

void WindowTest::TearDown() {
  window.reset();
  progress.reset();
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  unsetenv("QUARVEL_HOME");
}

void WindowTest::Click(const char* button) {
  auto* b = Find<QPushButton>(button);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->isEnabled()) << button;
  QTest::mouseClick(b, Qt::LeftButton);
}

std::string WindowTest::OpenTinyMovie(int width, int height, int fps, int frames, bool compressed) {
  const std::string path = (home / ("movie" + std::to_string(width) + ".swf")).string();
  WriteTinySwf(path, width, height, fps, frames, compressed);
  prompts.open_answers.push_back(QString::fromStdString(path));
  Click("open");
  return path;
}

void WindowTest::Run(int ms) {
  for (int t = 0; t < ms; t += 10) {
    clock.Advance(10);
    window->Player()->Tick();
    QCoreApplication::processEvents();
  }
}

}  // namespace quarvel::testing

// fontconfig keeps its caches until the process ends, and D-Bus (which Qt
// talks to on a real X display) a buffer; the leak checker of sanitizer
// builds is told so, and nothing else is hidden from it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\nleak:libdbus-1\n"; }
