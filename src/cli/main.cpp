// quarvel-cli: the core of Quarvel driven from a terminal.
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "platform/paths/working_folder.h"

namespace {

using namespace quarvel;
using namespace quarvel::cli;

extern "C" void OnInterrupt(int) { RequestCaptureStop(); }

struct CaptureTexts {
  std::string size, background = "movie";
};

void AddCaptureOptions(CLI::App* cmd, CaptureOptions& o, CaptureTexts& t) {
  cmd->add_option("--latency", o.latency, "capture interval in milliseconds (25 to 3000)")
      ->check(CLI::Range(25, 3000))
      ->capture_default_str();
  cmd->add_option("--size", t.size, "player size WIDTHxHEIGHT (default: the movie's, fitted)");
  cmd->add_option("--background", t.background, "background colour RRGGBB, or movie for the movie's own")
      ->capture_default_str();
  cmd->add_option("--sound", o.sound, "recording format")
      ->check(CLI::IsMember({"pcm", "adpcm11", "adpcm22", "adpcm44", "none"}))
      ->capture_default_str();
  cmd->add_option("--render-quality", o.quality, "player quality")
      ->check(CLI::IsMember({"low", "medium", "high", "best"}))
      ->capture_default_str();
  cmd->add_flag("--realtime", o.realtime, "play in real time on the wall clock instead of virtual time");
}

void FinishCaptureOptions(CaptureOptions& o, const CaptureTexts& t) {
  if (!t.size.empty()) o.size = ParseSize(t.size);
  o.background = ParseBackground(t.background);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quarvel: turns SWF movies into animated GIF and AVI files", "quarvel-cli"};
  app.set_version_flag("--version", "quarvel-cli 0.1.0");
  app.require_subcommand(1);
  app.fallthrough();

  std::string work_dir;
  bool quiet = false;
  app.add_option("--work-dir", work_dir, "working folder (frame store, recording)");
  app.add_flag("--quiet,-q", quiet, "no progress output");

  std::string movie, output;

  // info
  auto* info = app.add_subcommand("info", "signature, version, size, frame rate, frame count and sound tags of a movie");
  info->add_option("MOVIE", movie, "SWF file")->required();

  // capture
  CaptureOptions cap;
  CaptureTexts cap_texts;
  auto* capture = app.add_subcommand("capture", "play a movie and fill the frame store of the working folder");
  capture->add_option("MOVIE", movie, "SWF file")->required();
  AddCaptureOptions(capture, cap, cap_texts);

  // frame
  FrameOptions fr;
  std::string fr_size, fr_background = "movie";
  auto* frame = app.add_subcommand("frame", "write the player's picture after N frames (or at a time) as PNG");
  frame->add_option("MOVIE", movie, "SWF file")->required();
  frame->add_option("OUT", output, "PNG file to write")->required();
  auto* fr_n = frame->add_option("--frame", fr.frame, "frame number, counted from 1")->check(CLI::Range(1, 1 << 24));
  auto* fr_t = frame->add_option("--time", fr.time, "time from the start in milliseconds")
                   ->check(CLI::Range(0LL, 1LL << 40));
  fr_n->excludes(fr_t);
  frame->add_option("--size", fr_size, "picture size WIDTHxHEIGHT (default: the movie's own)");
  frame->add_option("--background", fr_background, "background colour RRGGBB, or movie")->capture_default_str();
  frame->add_option("--quality", fr.quality, "player quality")
      ->check(CLI::IsMember({"low", "medium", "high", "best"}))
      ->capture_default_str();

  try {
    app.parse(argc, argv);
    FinishCaptureOptions(cap, cap_texts);
    if (!fr_size.empty()) fr.size = ParseSize(fr_size);
    fr.background = ParseBackground(fr_background);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 2;
  }

  if (!work_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(work_dir, ec);
    if (ec) {
      std::fprintf(stderr, "quarvel-cli: --work-dir %s: %s\n", work_dir.c_str(), ec.message().c_str());
      return 1;
    }
    auto abs = std::filesystem::absolute(work_dir);
    paths::SetWorkingFolder(abs);
    // The option given on the command line wins over the environment.
    ::setenv("QUARVEL_HOME", abs.c_str(), 1);
  }

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  Progress progress(Progress::ModeFor(quiet));

  try {
    if (*info) {
      RunInfo(movie);
    }
#ifdef QUARVEL_CLI_PLAYER
    else if (*capture) {
      RunCapture(movie, cap, progress);
    } else if (*frame) {
      RunFrame(movie, output, fr);
    }
#endif
  } catch (const std::exception& e) {
    progress.ClearBar();
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 1;
  }
  return 0;
}
