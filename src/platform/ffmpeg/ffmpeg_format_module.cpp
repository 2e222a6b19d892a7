// libquarvel_ffmpeg_format.so: libavformat's functions of the table, from FFmpeg linked as usual.
#include "platform/ffmpeg/ffmpeg_api.h"

extern "C" __attribute__((visibility("default"))) const quarvel::ffmpeg::FormatApi* quarvel_ffmpeg_format_api(
    std::size_t table_size) {
  static const quarvel::ffmpeg::FormatApi api{
#define QUARVEL_FFMPEG_ADDRESS(name) &::name,
      QUARVEL_FFMPEG_FORMAT_FUNCTIONS(QUARVEL_FFMPEG_ADDRESS)
#undef QUARVEL_FFMPEG_ADDRESS
  };
  return table_size == sizeof api ? &api : nullptr;
}
