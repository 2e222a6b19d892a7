#pragma once
// The writer calls FFmpeg through the shared table, loaded on first use.

#include "platform/ffmpeg/ffmpeg_api.h"

namespace quarvel::video_out {

using ffmpeg::Av;
using ffmpeg::Avf;

}  // namespace quarvel::video_out
