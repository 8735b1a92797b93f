// Small helpers shared by the movie writer and reader: FFmpeg's objects
// held by unique_ptr, and its error numbers in words.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace zentrope::ffmpeg {

// FFmpeg's words for an error number ("Invalid argument").
inline std::string ErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(error, text, sizeof text) < 0) {
    return "error " + std::to_string(error);
  }
  return text;
}

// FFmpeg's own messages stay off the terminal: failures reach the user
// through the callers' reasons instead.
inline void QuietLogs() {
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
}

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
// A custom I/O context and its buffer (which FFmpeg may have replaced).
struct IoContextFree {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextFree>;

// The write callback's buffer became const in libavformat 61 (FFmpeg 7).
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WriteBuffer = const std::uint8_t*;
#else
using WriteBuffer = std::uint8_t*;
#endif

}  // namespace zentrope::ffmpeg
