// quarvel [MOVIE.swf]: the desktop application; a movie given on the
// command line is opened as "Open" opens it.

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>

#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "flash/flash_movie_control.h"
#include "platform/audio/alsa_device.h"
#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/audio/steered_clock.h"
#include "platform/gdi/heap_tuning.h"
#include "platform/mci/mci.h"
#include "platform/mixer/mixer_driver.h"
#include "platform/paths/folder_lock.h"
#include "platform/paths/working_folder.h"

int main(int argc, char** argv) {
  quarvel::gdi::KeepFrameBuffersInHeap();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarvel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quarvel"));
  // The window owns the working folder for its lifetime, as a command does.
  quarvel::paths::FolderLock folder_lock;
  try {
    folder_lock = quarvel::paths::FolderLock::Acquire(quarvel::paths::WorkingFolder());
  } catch (const quarvel::paths::FolderLockError& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Error:"), QString::fromStdString(e.what()));
    return 1;
  }
  quarvel::paths::RemoveLeftovers(quarvel::paths::WorkingFolder());
  // One clock for the player, its sound and the recording.
  // Real time, which a frame-exact capture steers for a while.
  auto clock = std::make_shared<quarvel::audio::SteeredClock>();
  quarvel::audio::LoopbackBus& bus = quarvel::audio::LoopbackBus::Instance();
  quarvel::flash::FlashMovieControl control(bus, clock);
  quarvel::audio::AlsaOutput speakers(bus);
  speakers.Start();  // without a sound card the movie is simply not heard
  quarvel::app::Prompts prompts;
  quarvel::app::ProgressBox progress;
  quarvel::app::MainWindow window({control, *clock, prompts, progress, quarvel::mixer::SystemMixer(),
                                   quarvel::mci::Mci::Instance()});
  window.show();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) {
    const QString movie = args.at(1);
    QTimer::singleShot(0, &window, [&window, movie] { window.OpenMovie(movie); });
  }
  return QApplication::exec();
}
