#pragma once
// A main window over a scripted player and a virtual clock, in a private
// working folder, with dialogs answered by the test.

#include <QApplication>
#include <QColor>
#include <QStringList>
#include <QWidget>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "app/main_window.h"
#include "app/progress_box.h"
#include "app/prompts.h"
#include "support/scripted_movie.h"
#include "platform/audio/clock.h"
#include "platform/audio/loopback_bus.h"
#include "platform/mci/mci.h"
#include "platform/mixer/loopback_mixer.h"
#include "platform/paths/working_folder.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace quarvel::testing {

QApplication& EnsureApplication();

// A folder that nobody can write into, root included: made immutable where
// the file system allows it, else a folder path under a plain file.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::filesystem::path& inside);
  ~ReadOnlyFolder();
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  // What the system says to a file made in it ("Operation not permitted"...).
  const std::string& Cause() const { return cause_; }

 private:
  std::filesystem::path path_;
  std::string cause_;
  bool immutable_ = false;
};

class ScriptedPrompts : public app::Prompts {
 public:
  QString OpenFile(QWidget*, const QString& filter, const QString& initial) override {
    filters.push_back(filter + " | " + initial);
    return Next(open_answers);
  }
  QString SaveFile(QWidget*, const QString& filter, const QString& suffix, const QString& initial) override {
    filters.push_back(filter + " | " + suffix);
    initial_paths.push_back(initial);
    return Next(save_answers);
  }
  void Error(QWidget*, const QString& caption, const QString& text) override {
    messages.push_back(caption + ": " + text);
  }
  void Message(QWidget*, const QString& text) override { messages.push_back(text); }
  bool AskYesNo(QWidget*, const QString& text) override {
    messages.push_back(text);
    if (on_ask) on_ask();
    return yes;
  }
  QColor PickColor(QWidget*, const QColor&) override { return picked; }
  bool OpenFolder(const QString& path) override {
    opened_folders.push_back(path);
    return folder_opens;
  }
  bool CompressorSettings(QWidget*, const QString& name, int& kbps, int& keys) override {
    configured.push_back(name);
    kbps = settings_kbps;
    keys = settings_keys;
    return true;
  }
  QStringList configured;
  int settings_kbps = 0, settings_keys = 0;

  std::deque<QString> open_answers, save_answers;
  QStringList filters, messages, opened_folders, initial_paths;
  bool yes = true;
  bool folder_opens = true;
  std::function<void()> on_ask;  // runs while a question is shown
  QColor picked;

 private:
  static QString Next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  template <typename T>
  T* Find(const char* name) const {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const char* button);
  // Writes a movie into the test folder and opens it through "Open".
  std::string OpenTinyMovie(int width, int height, int fps, int frames, bool compressed = false);
  // Lets the window run for `ms` of virtual time in steps of 10 ms.
  void Run(int ms);
  std::filesystem::path Home() const { return home; }

  std::filesystem::path home;
  ScriptedMovie movie;
  audio::VirtualClock clock;
  audio::LoopbackBus bus;
  mixer::LoopbackMixer mixer{bus};
  ScriptedPrompts prompts;
  std::unique_ptr<app::ProgressBox> progress;
  std::unique_ptr<app::MainWindow> window;
};

}  // namespace quarvel::testing
