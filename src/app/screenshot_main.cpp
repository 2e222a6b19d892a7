// quarvel-screenshot MOVIE.swf OUT.png: opens the movie in the main window,
// captures it, and saves a picture of the window at the screen's own
// resolution (twice the pixels on a 2x screen). A relative MOVIE path is
// shown as it is given, so the picture names no folder of the machine.

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <memory>
#include <cstdio>

#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "flash/flash_movie_control.h"
#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/audio/steered_clock.h"
#include "platform/mci/mci.h"
#include "platform/mixer/mixer_driver.h"

namespace {

// No dialog may stop an unattended run: messages go to stderr.
class QuietPrompts : public quarvel::app::Prompts {
 public:
  void Error(QWidget*, const QString& caption, const QString& text) override {
    std::fprintf(stderr, "%s %s\n", qPrintable(caption), qPrintable(text));
  }
  void Message(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: quarvel-screenshot MOVIE.swf OUT.png\n");
    return 2;
  }
  const QString movie = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  QApplication::setApplicationName(QStringLiteral("Quarvel"));
  // One clock for the player, its sound and the recording.
  auto clock = std::make_shared<quarvel::audio::SteeredClock>();
  quarvel::audio::LoopbackBus& bus = quarvel::audio::LoopbackBus::Instance();
  quarvel::flash::FlashMovieControl control(bus, clock);
  QuietPrompts prompts;
  quarvel::app::ProgressBox progress;
  quarvel::app::MainWindow window({control, *clock, prompts, progress, quarvel::mixer::SystemMixer(),
                                   quarvel::mci::Mci::Instance()});
  window.show();
  int status = 1;
  QTimer::singleShot(800, &window, [&] {
    window.OpenMovie(movie);
    if (auto* capture = window.findChild<QPushButton*>(QStringLiteral("captureFrames")); capture && capture->isEnabled()) {
      capture->click();  // returns when the capture has ended
    }
    QTimer::singleShot(1500, &window, [&] {
      window.RefreshStatus();
      status = window.grab().save(out) ? 0 : 1;
      if (status != 0) std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
      QApplication::quit();
    });
  });
  QApplication::exec();
  return status;
}
