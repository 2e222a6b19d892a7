// quarvel-cli: the core of Quarvel driven from a terminal. This program only
// parses the command line; the commands run in the command module, loaded
// when one runs, so that --help and --version start without the player's
// libraries.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "cli/invocation.h"
#include "platform/paths/modules.h"
#include "video_out/video_format.h"

namespace {

using namespace quarvel;
using namespace quarvel::cli;

const std::vector<std::string> kRenderQualities = {"low", "medium", "high", "best"};

void AddCaptureOptions(CLI::App* cmd, CaptureOptions& o, CaptureTexts& t) {
  cmd->add_option("--latency", o.latency, "capture interval in milliseconds, 25 to 3000")
      ->check(CLI::Range(25, 3000))
      ->capture_default_str();
  auto* size = cmd->add_option("--size", t.size, "player size WIDTHxHEIGHT (default: the movie's, within 1024x1024)");
  cmd->add_option("--scale", o.scale,
                  "draw the movie at F times its own size, 0.25 to 8 (vector-sharp, not an enlargement of pixels)")
      ->check(CLI::Range(0.25, 8.0))
      ->excludes(size);
  cmd->add_option("--start", t.start, "let the movie play this long before the first frame: milliseconds, or Nf frames");
  cmd->add_option("--duration", t.duration,
                  "capture this long (milliseconds, or Nf of the movie's frames) instead of until the movie ends; "
                  "for movies that loop or never end");
  cmd->add_option("--max-frames", o.max_frames, "capture at most this many frames")->check(CLI::Range(1LL, 1LL << 40));
  cmd->add_option("--background", t.background,
                  "background colour RRGGBB, movie for the movie's own, or transparent (kept by GIF, WebM, WebP, APNG)")
      ->capture_default_str();
  cmd->add_option("--sound", o.sound, "recording format")
      ->check(CLI::IsMember({"pcm", "adpcm11", "adpcm22", "adpcm44", "none"}))
      ->capture_default_str();
  cmd->add_option("--render-quality", o.quality, "player quality")
      ->check(CLI::IsMember(kRenderQualities))
      ->capture_default_str();
  cmd->add_flag("--realtime", o.realtime, "play on the wall clock in real time instead of virtual time");
  cmd->add_option("--click", t.clicks,
                  "click the movie at player pixel X,Y, MS milliseconds after it starts (X,Y@MS; repeatable), "
                  "for movies that wait for a button");
  cmd->add_option("--key", t.keys,
                  "press a key MS milliseconds after the movie starts and release it HOLD ms later (default one "
                  "movie frame): NAME@MS or NAME@MS+HOLD, e.g. Space@1500; repeatable, for movies and games that "
                  "wait on a key");
}

void AddCropZoom(CLI::App* cmd, capture::CropZoom& cz, CropTexts& t) {
  cmd->add_option("--crop", t.crop, "margins cut off, TOP,LEFT,RIGHT,BOTTOM, each 0 to 999");
  cmd->add_option("--zoom", cz.zoom, "zoom in percent, 5 to 500")->check(CLI::Range(5, 500))->capture_default_str();
}

void AddGifOptions(CLI::App* cmd, GifOptions& o, bool with_latency) {
  cmd->add_option("--colors", o.colors, "256 colours (octree) or gray")
      ->check(CLI::IsMember({"256", "gray"}))
      ->capture_default_str();
  cmd->add_option("--dither", o.dither, "nearest colour or Floyd-Steinberg")
      ->check(CLI::IsMember({"nearest", "floyd"}))
      ->capture_default_str();
  cmd->add_option("--mode", o.mode, "smaller: difference frames; best: every frame whole")
      ->check(CLI::IsMember({"smaller", "best"}))
      ->capture_default_str();
  cmd->add_option("--palette", o.palette,
                  "256 colours by octree per frame, or quant: libimagequant, one palette shared by the frames")
      ->check(CLI::IsMember({"octree", "quant"}))
      ->capture_default_str();
  cmd->add_flag("--optimize,!--no-optimize", o.optimize,
                "rewrite the GIF losslessly into fewer bytes (default); --no-optimize keeps the plain build");
  cmd->add_flag("--thorough", o.thorough,
                "the bytes of older versions, more slowly: frames drawn whole keep the screen's size and the rewrite "
                "always runs (by default long movies are rewritten only when sample windows save 1 %)");
  if (with_latency)
    cmd->add_option("--latency", o.latency, "frame delay in milliseconds (default: the capture's)")
        ->check(CLI::Range(25, 3000));
}

void AddAviOptions(CLI::App* cmd, AviOptions& o, bool with_latency, bool or_webp_quality = false) {
  cmd->add_option("--codec", o.codec, "four-character code of a compressor (see codecs), or none");
  const CLI::IsMember names({"highest", "veryhigh", "high", "medium", "low"});
  cmd->add_option("--quality", o.quality,
                  or_webp_quality ? "AVI compression quality, or 0 to 100 for a lossy WebP" : "compression quality")
      ->check(or_webp_quality ? CLI::Validator(names | CLI::Range(0, 100)) : CLI::Validator(names))
      ->capture_default_str();
  cmd->add_option("--depth", o.depth, "bits per pixel")->check(CLI::IsMember({1, 4, 8, 24, 32}))->capture_default_str();
  cmd->add_flag("--no-audio", o.no_audio, "leave the recording out");
  if (with_latency)
    cmd->add_option("--latency", o.latency, "frame time in milliseconds (default: the capture's)")
        ->check(CLI::Range(25, 3000));
}

void AddVideoOptions(CLI::App* cmd, VideoOptions& o, VideoTexts& t, bool own_command) {
  cmd->add_option("--crf", t.crf, "constant quality for MP4, MOV, MKV (0..51, default 23) and WebM (0..63, default 32)")
      ->check(CLI::Range(0, 63));
  cmd->add_option("--preset", t.preset, "encoder speed against size, ultrafast to veryslow (default medium)")
      ->check(CLI::IsMember(video_out::PresetNames()));
  if (!own_command) return;
  cmd->add_option("--quality", t.quality, "lossy WebP quality 0 to 100 (default: lossless)")->check(CLI::Range(0, 100));
  cmd->add_flag("--no-audio", o.no_audio, "leave the recording out");
  cmd->add_option("--latency", o.latency, "frame time in milliseconds (default: the capture's)")
      ->check(CLI::Range(25, 3000));
}

void AddMp3Options(CLI::App* cmd, Mp3Options& o) {
  cmd->add_option("--bitrate", o.bitrate, "kbit/s")->check(CLI::IsMember({128, 224}))->capture_default_str();
}

void AddBatchOptions(CLI::App* convert, BatchTexts& b) {
  convert->add_option("MORE", b.more, "further movies, folders or list files (with --out-dir)");
  convert->add_option("--out-dir", b.out_dir,
                      "convert every movie given into this folder, each as NAME.FORMAT (needs --format)");
  convert->add_option("--format", b.format, "output format of a batch")
      ->check(CLI::IsMember({"gif", "avi", "mp3", "mp4", "webm", "webp", "apng", "png", "mkv", "mov"}));
  convert->add_option("-j,--jobs", b.jobs, "conversions of a batch at once (default: the number of cores)")
      ->check(CLI::Range(1, 256));
  convert->add_option("--report", b.report,
                      "write a JSON report of the batch: a record per movie with its result, error, frames, movie "
                      "and wall seconds and output size");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quarvel: turns SWF movies into animated GIF and AVI files", "quarvel-cli"};
  app.set_version_flag("--version", "quarvel-cli 0.1.0");
  app.require_subcommand(1);
  app.fallthrough();

  Invocation call;
  app.add_option("--work-dir", call.work_dir, "working folder (frame store, recording)");
  app.add_flag("--quiet,-q", call.quiet, "no progress output");
  app.add_flag("--wait", call.wait, "when another run uses the working folder, wait for it instead of failing");
  app.add_option("--max-movie-size", call.max_movie_mib, "largest movie accepted once expanded, in MiB")
      ->check(CLI::Range(1, 4095))
      ->capture_default_str();

  std::string& movie = call.movie;
  std::string& output = call.output;

  auto* info = app.add_subcommand("info", "signature, version, size, frame rate, frame count and sound tags of a movie");
  info->add_option("MOVIE", movie, "SWF file")->required();

  auto* capture = app.add_subcommand("capture", "play a movie and fill the frame store of the working folder");
  capture->add_option("MOVIE", movie, "SWF file")->required();
  AddCaptureOptions(capture, call.capture, call.capture_texts);

  auto* gif_cmd = app.add_subcommand("gif", "write the frame store as an animated GIF");
  gif_cmd->add_option("OUT", output, "GIF file to write")->required();
  AddGifOptions(gif_cmd, call.gif, true);
  AddCropZoom(gif_cmd, call.gif.crop_zoom, call.gif_crop);

  auto* avi_cmd = app.add_subcommand("avi", "write the frame store and the recording as an AVI file");
  avi_cmd->add_option("OUT", output, "AVI file to write")->required();
  AddAviOptions(avi_cmd, call.avi, true);
  AddCropZoom(avi_cmd, call.avi.crop_zoom, call.avi_crop);

  auto* video_cmd = app.add_subcommand(
      "video", "write the frame store and the recording as MP4, WebM, MKV or MOV video, or animated WebP or PNG");
  video_cmd->add_option("OUT", output, "file to write; its extension (" + video_out::KnownExtensions() + ") chooses")
      ->required();
  AddVideoOptions(video_cmd, call.video, call.video_texts, true);
  AddCropZoom(video_cmd, call.video.crop_zoom, call.video_crop);

  auto* mp3_cmd = app.add_subcommand("mp3", "convert the recording (PCM) to MP3 with lame");
  mp3_cmd->add_option("OUT", output, "MP3 file to write")->required();
  AddMp3Options(mp3_cmd, call.mp3);

  auto* sounds = app.add_subcommand("sounds", "write the sounds embedded in a movie beside it");
  sounds->add_option("MOVIE", movie, "SWF file")->required();
  sounds->add_flag("--raw", call.sounds_raw,
                   "write the tag data as stored (no WAVE header, ADPCM and other codecs not decoded)");

  FrameOptions& fr = call.frame;
  auto* frame = app.add_subcommand("frame", "write the player's picture after N frames (or at a time) as PNG");
  frame->add_option("MOVIE", movie, "SWF file")->required();
  frame->add_option("OUT", output, "PNG file to write")->required();
  auto* fr_n = frame->add_option("--frame", fr.frame, "frame number, counted from 1")->check(CLI::Range(1, 1 << 24));
  auto* fr_t =
      frame->add_option("--time", fr.time, "time from the start in milliseconds")->check(CLI::Range(0LL, 1LL << 40));
  fr_n->excludes(fr_t);
  frame->add_option("--size", call.frame_size, "picture size WIDTHxHEIGHT (default: the movie's own)");
  frame->add_option("--background", call.frame_background, "background colour RRGGBB, or movie")
      ->capture_default_str();
  frame->add_option("--quality", fr.quality, "player quality")
      ->check(CLI::IsMember(kRenderQualities))
      ->capture_default_str();

  // convert: capture, then the writer the output's extension names.
  auto* convert = app.add_subcommand("convert", "capture a movie and write it as GIF, AVI, MP3 or a video in one step");
  convert->add_option("MOVIE", movie, "SWF file (with --out-dir: a movie, a folder of movies or a list file)")
      ->required();
  convert->add_option("OUT", output, "OUT.gif, OUT.avi, OUT.mp3 or a video: " + video_out::KnownExtensions());
  AddBatchOptions(convert, call.batch);
  AddCaptureOptions(convert, call.convert_capture, call.convert_capture_texts);
  AddGifOptions(convert, call.convert_gif, false);
  AddAviOptions(convert, call.convert_avi, false, true);
  AddMp3Options(convert, call.convert_mp3);
  AddVideoOptions(convert, call.convert_video, call.convert_video_texts, false);
  AddCropZoom(convert, call.convert_crop_zoom, call.convert_crop);

  auto* codecs = app.add_subcommand("codecs", "list the video compressors, the default choice marked with *");
  codecs->add_option("--depth", call.codec_depth, "bits per pixel")->check(CLI::IsMember({1, 4, 8, 24, 32}));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  const std::pair<CLI::App*, Command> commands[] = {
      {info, Command::kInfo},     {capture, Command::kCapture}, {gif_cmd, Command::kGif},
      {avi_cmd, Command::kAvi},   {video_cmd, Command::kVideo}, {mp3_cmd, Command::kMp3},
      {sounds, Command::kSounds}, {frame, Command::kFrame},     {convert, Command::kConvert},
      {codecs, Command::kCodecs}};
  for (const auto& [sub, command] : commands)
    if (*sub) call.command = command;
  call.max_movie_size_given = app.count("--max-movie-size") > 0;
  call.video_texts.crf_given = video_cmd->count("--crf") > 0;
  call.video_texts.preset_given = video_cmd->count("--preset") > 0;
  call.convert_video_texts.crf_given = convert->count("--crf") > 0;
  call.convert_video_texts.preset_given = convert->count("--preset") > 0;
  call.convert_quality_given = convert->count("--quality") > 0;
  call.convert_sound_given = convert->count("--sound") > 0;

  CommandEntry run = nullptr;
  try {
    // Beside the program (the build, a copy) or in the installed program's
    // module folder; never the build's copy for an installed program.
    run = reinterpret_cast<CommandEntry>(
        paths::LoadModuleEntry("the command module", kCommandModule, nullptr, kCommandEntry));
  } catch (const paths::ModuleError& e) {
    std::fprintf(stderr, "quarvel-cli: %s\n", e.what());
    return 1;
  }
  const int status = run(&call, sizeof call);
  if (status == kEntryMismatch) {
    std::fprintf(stderr, "quarvel-cli: the command module %s does not match this program (rebuild it)\n",
                 kCommandModule);
    return 1;
  }
#if !defined(__SANITIZE_ADDRESS__)
  // The command has closed its files and joined its threads: the exit
  // handlers of the hundred libraries behind the commands and FFmpeg would
  // only fault their pages in to free what the process's end frees anyway.
  // (The sanitizer build keeps them: its leak check runs there.)
  std::fflush(nullptr);
  std::_Exit(status);
#endif
  return status;
}
