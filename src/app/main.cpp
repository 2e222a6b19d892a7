// quarvel [MOVIE.swf]: the desktop application; a movie given on the
// command line is opened as "Open" opens it.

#include <QApplication>
#include <QTimer>

#include "app/flash_movie_control.h"
#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "platform/audio/clock.h"
#include "platform/mci/mci.h"
#include "platform/mixer/mixer_driver.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quarvel"));
  QApplication::setApplicationDisplayName(QStringLiteral("Quarvel"));
  quarvel::audio::WallClock clock;
  quarvel::app::FlashMovieControl control;
  quarvel::app::Prompts prompts;
  quarvel::app::ProgressBox progress;
  quarvel::app::MainWindow window({control, clock, prompts, progress, quarvel::mixer::SystemMixer(),
                                   quarvel::mci::Mci::Instance()});
  window.show();
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) {
    const QString movie = args.at(1);
    QTimer::singleShot(0, &window, [&window, movie] { window.OpenMovie(movie); });
  }
  return QApplication::exec();
}
