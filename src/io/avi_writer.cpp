#include "io/avi_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

extern "C" {
#include <libavutil/opt.h>
}

#include "io/ffmpeg_support.h"
#include "render/zbuffer.h"
#include "shell/atomic_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

constexpr int kIoBufferSize = 1 << 16;
// Key frames when the user forces none: the longest interval MPEG-4 keeps.
constexpr int kLongestKeyInterval = 600;

int WriteToFile(void* opaque, ffmpeg::WriteBuffer data, int size) {
  auto* file = static_cast<std::FILE*>(opaque);
  if (size <= 0) {
    return 0;
  }
  errno = 0;
  if (std::fwrite(data, 1, static_cast<std::size_t>(size), file) !=
      static_cast<std::size_t>(size)) {
    return AVERROR(errno != 0 ? errno : EIO);
  }
  return size;
}

std::int64_t SeekInFile(void* opaque, std::int64_t offset, int whence) {
  auto* file = static_cast<std::FILE*>(opaque);
  if (whence & AVSEEK_SIZE) {
    const off_t here = ftello(file);
    if (here < 0 || fseeko(file, 0, SEEK_END) != 0) {
      return AVERROR(errno);
    }
    const off_t size = ftello(file);
    if (fseeko(file, here, SEEK_SET) != 0) {
      return AVERROR(errno);
    }
    return size;
  }
  whence &= ~AVSEEK_FORCE;
  if (fseeko(file, static_cast<off_t>(offset), whence) != 0) {
    return AVERROR(errno);
  }
  return ftello(file);
}

void LogError(const char* format, int error) {
  char line[64];
  std::snprintf(line, sizeof line, format, static_cast<long>(error));
  log_line(line);
}

// The compressor a four-character code names. Codes FFmpeg's own table of
// AVI codes knows are found there; these name the encoder to prefer where
// FFmpeg has several (hardware encoders that may not open, libxvid).
const AVCodec* EncoderFor(std::int32_t handler) {
  struct Preferred {
    const char* code;
    const char* encoder;
  };
  static constexpr Preferred kPreferred[] = {
      {"MJPG", "mjpeg"},     {"XVID", "mpeg4"},   {"FMP4", "mpeg4"},   {"DIVX", "mpeg4"},
      {"DX50", "mpeg4"},     {"MP4V", "mpeg4"},   {"H264", "libx264"}, {"X264", "libx264"},
      {"AVC1", "libx264"},   {"FFV1", "ffv1"},    {"HFYU", "huffyuv"}, {"FFVH", "ffvhuff"},
      {"MP42", "msmpeg4v2"}, {"MP43", "msmpeg4"}, {"DIV3", "msmpeg4"},
  };
  std::string code = FourCcText(handler);
  std::transform(code.begin(), code.end(), code.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  for (const Preferred& p : kPreferred) {
    if (code == p.code) {
      if (const AVCodec* c = avcodec_find_encoder_by_name(p.encoder)) {
        return c;
      }
    }
  }
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  const AVCodecID id = av_codec_get_id(tables, static_cast<unsigned>(handler));
  if (id == AV_CODEC_ID_NONE) {
    return nullptr;
  }
  return avcodec_find_encoder(id);
}

// FFmpeg's scale for MPEG-style quantisers: 1 (finest) to 31.
int QuantiserFor(std::int32_t quality) {
  const double q = std::clamp(quality, 0, 10000) / 10000.0;
  return static_cast<int>(std::lround(31.0 - 30.0 * q));
}

}  // namespace

// One open movie: the temporary file, the AVI muxer writing to it through
// our own I/O callbacks, and for a compressed movie the encoder and the
// conversion from the rendered pixels.
struct AviWriter::Movie {
  SaveTransaction save;
  std::FILE* file = nullptr;
  ffmpeg::IoContextPtr io;
  AVFormatContext* format = nullptr;
  AVStream* stream = nullptr;
  ffmpeg::CodecContextPtr encoder;
  ffmpeg::SwsPtr scaler;
  ffmpeg::FramePtr frame;
  ffmpeg::PacketPtr packet;
  AVRational sampleTime{1, 1};
  int width = 0;
  int height = 0;
  bool headerWritten = false;

  Movie() = default;
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;
  ~Movie() {
    if (format) {
      avformat_free_context(format);  // the I/O context is ours
    }
  }

  // 0, or FFmpeg's error number with why in words.
  int Open(const std::filesystem::path& target, int w, int h, int frameRate,
           const AviCompression& compression, std::string& reason);
  int Write(const Picture& picture, std::int64_t sample, std::string& reason);
  // Finishes the file and puts it in place; 0 or the error.
  int Finish(std::string& reason);

 private:
  int OpenEncoder(const AVCodec* codec, const AviCompression& compression, int frameRate,
                  std::string& reason);
  int WritePacket(AVRational from, std::string& reason);
  int Drain(std::string& reason);
};

int AviWriter::Movie::OpenEncoder(const AVCodec* codec, const AviCompression& compression,
                                  int frameRate, std::string& reason) {
  encoder.reset(avcodec_alloc_context3(codec));
  frame.reset(av_frame_alloc());
  if (!encoder || !frame) {
    reason = "out of memory";
    return AVERROR(ENOMEM);
  }
  AVCodecContext& c = *encoder;
  c.width = width;
  c.height = height;
  c.time_base = sampleTime;
  c.framerate = AVRational{frameRate, 1};
  c.pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
  c.max_b_frames = 0;  // samples stay in display order, one per frame
  c.gop_size = compression.keyEvery > 0 ? compression.keyEvery : kLongestKeyInterval;
  c.thread_count = 1;
  if (compression.bytesPerSecond > 0) {
    c.bit_rate = std::int64_t{compression.bytesPerSecond} * 8;
  } else {
    // An encoder with a constant-rate factor takes the quality there;
    // the others through the quantiser scale.
    const double crf = 51.0 * (1.0 - std::clamp(compression.quality, 0, 10000) / 10000.0);
    if (!c.priv_data || av_opt_set_double(c.priv_data, "crf", crf, 0) < 0) {
      c.flags |= AV_CODEC_FLAG_QSCALE;
      c.global_quality = FF_QP2LAMBDA * QuantiserFor(compression.quality);
    }
  }
  if (format->oformat->flags & AVFMT_GLOBALHEADER) {
    c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  int error = avcodec_open2(&c, codec, nullptr);
  if (error < 0) {
    reason = std::string("the ") + codec->name + " encoder refused: " + ffmpeg::ErrorText(error);
    return error;
  }
  error = avcodec_parameters_from_context(stream->codecpar, &c);
  if (error < 0) {
    reason = ffmpeg::ErrorText(error);
    return error;
  }
  // Keep the user's code in the file when it names this codec; otherwise
  // the muxer picks the usual one.
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  const auto tag = static_cast<unsigned>(compression.handler);
  stream->codecpar->codec_tag = av_codec_get_id(tables, tag) == codec->id ? tag : 0;
  frame->format = c.pix_fmt;
  frame->width = width;
  frame->height = height;
  error = av_frame_get_buffer(frame.get(), 0);
  if (error < 0) {
    reason = ffmpeg::ErrorText(error);
    return error;
  }
  scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, c.pix_fmt,
                              SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
  if (!scaler) {
    reason = "no conversion to the encoder's pixel format";
    return AVERROR(EINVAL);
  }
  return 0;
}

int AviWriter::Movie::Open(const std::filesystem::path& target, int w, int h, int frameRate,
                           const AviCompression& compression, std::string& reason) {
  if (frameRate < 1) {
    reason = "the frame rate must be at least 1";
    return AVERROR(EINVAL);
  }
  if (w < 1 || h < 1) {
    reason = "the picture is empty";
    return AVERROR(EINVAL);
  }
  width = w;
  height = h;
  sampleTime = AVRational{1, frameRate};
  const AVCodec* codec = nullptr;
  if (compression.handler != 0) {
    codec = EncoderFor(compression.handler);
    if (!codec) {
      const std::string code = FourCcText(compression.handler);
      reason = "no encoder for the compressor " +
               (code.empty() ? std::to_string(compression.handler) : "\"" + code + "\"");
      return AVERROR_ENCODER_NOT_FOUND;
    }
  }
  errno = 0;
  std::string detail;
  file = save.Open(target, &detail);
  if (!file) {
    const int error = errno != 0 ? errno : EIO;
    reason = save.Reason().empty() ? detail : save.Reason();
    return AVERROR(error);
  }
  int error = avformat_alloc_output_context2(&format, nullptr, "avi", nullptr);
  if (error < 0 || !format) {
    reason = "FFmpeg has no AVI muxer";
    return error < 0 ? error : AVERROR_MUXER_NOT_FOUND;
  }
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
  if (buffer) {
    io.reset(
        avio_alloc_context(buffer, kIoBufferSize, 1, file, nullptr, &WriteToFile, &SeekInFile));
    if (!io) {
      av_free(buffer);
    }
  }
  packet.reset(av_packet_alloc());
  stream = avformat_new_stream(format, nullptr);
  if (!io || !packet || !stream) {
    reason = "out of memory";
    return AVERROR(ENOMEM);
  }
  format->pb = io.get();
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  stream->time_base = sampleTime;
  stream->avg_frame_rate = AVRational{frameRate, 1};
  if (codec) {
    error = OpenEncoder(codec, compression, frameRate, reason);
    if (error < 0) {
      return error;
    }
  } else {
    // Uncompressed: 24-bit DIB rows, bottom row first, each padded to four
    // bytes, described by a plain bitmap header (no compression code).
    AVCodecParameters& p = *stream->codecpar;
    p.codec_type = AVMEDIA_TYPE_VIDEO;
    p.codec_id = AV_CODEC_ID_RAWVIDEO;
    p.codec_tag = 0;
    p.format = AV_PIX_FMT_BGR24;
    p.width = width;
    p.height = height;
    p.bits_per_coded_sample = 24;
  }
  AVDictionary* options = nullptr;
  // Raw rows are stored bottom-up, so the header keeps a positive height.
  av_dict_set(&options, "flipped_raw_rgb", "1", 0);
  error = avformat_write_header(format, &options);
  av_dict_free(&options);
  if (error < 0) {
    reason = "the AVI header cannot be written: " + ffmpeg::ErrorText(error);
    return error;
  }
  headerWritten = true;
  if (format->pb->error < 0) {
    reason = ffmpeg::ErrorText(format->pb->error);
    return format->pb->error;
  }
  return 0;
}

int AviWriter::Movie::WritePacket(AVRational from, std::string& reason) {
  packet->stream_index = stream->index;
  av_packet_rescale_ts(packet.get(), from, stream->time_base);
  const int error = av_write_frame(format, packet.get());
  av_packet_unref(packet.get());
  if (error < 0) {
    reason = ffmpeg::ErrorText(error);
    return error;
  }
  if (format->pb->error < 0) {
    reason = ffmpeg::ErrorText(format->pb->error);
    return format->pb->error;
  }
  return 0;
}

// Writes every packet the encoder has ready.
int AviWriter::Movie::Drain(std::string& reason) {
  for (;;) {
    const int error = avcodec_receive_packet(encoder.get(), packet.get());
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
      return 0;
    }
    if (error < 0) {
      reason = "the encoder failed: " + ffmpeg::ErrorText(error);
      return error;
    }
    const int written = WritePacket(encoder->time_base, reason);
    if (written < 0) {
      return written;
    }
  }
}

int AviWriter::Movie::Write(const Picture& picture, std::int64_t sample, std::string& reason) {
  if (picture.width != width || picture.height != height) {
    reason = "the picture is " + std::to_string(picture.width) + "x" +
             std::to_string(picture.height) + ", the movie " + std::to_string(width) + "x" +
             std::to_string(height);
    return AVERROR(EINVAL);
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  if (picture.bgr.size() < rowBytes * static_cast<std::size_t>(height)) {
    reason = "the picture holds fewer pixels than its size";
    return AVERROR(EINVAL);
  }
  if (!encoder) {
    const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
    const std::size_t bytes = stride * static_cast<std::size_t>(height);
    if (bytes > static_cast<std::size_t>(INT32_MAX)) {
      reason = "the picture is too large for one sample";
      return AVERROR(EINVAL);
    }
    int error = av_new_packet(packet.get(), static_cast<int>(bytes));
    if (error < 0) {
      reason = ffmpeg::ErrorText(error);
      return error;
    }
    std::memset(packet->data, 0, bytes);
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = picture.bgr.data() + rowBytes * static_cast<std::size_t>(y);
      std::memcpy(packet->data + stride * static_cast<std::size_t>(height - 1 - y), row, rowBytes);
    }
    packet->pts = packet->dts = sample;
    packet->duration = 1;
    packet->flags |= AV_PKT_FLAG_KEY;
    return WritePacket(sampleTime, reason);
  }
  int error = av_frame_make_writable(frame.get());
  if (error < 0) {
    reason = ffmpeg::ErrorText(error);
    return error;
  }
  const std::uint8_t* source[4] = {picture.bgr.data(), nullptr, nullptr, nullptr};
  const int sourceStride[4] = {static_cast<int>(rowBytes), 0, 0, 0};
  sws_scale(scaler.get(), source, sourceStride, 0, height, frame->data, frame->linesize);
  frame->pts = sample;
  frame->quality = encoder->global_quality;
  error = avcodec_send_frame(encoder.get(), frame.get());
  if (error < 0) {
    reason = "the encoder refused the frame: " + ffmpeg::ErrorText(error);
    return error;
  }
  return Drain(reason);
}

int AviWriter::Movie::Finish(std::string& reason) {
  int error = 0;
  if (encoder) {
    error = avcodec_send_frame(encoder.get(), nullptr);
    if (error >= 0) {
      error = Drain(reason);
    } else {
      reason = ffmpeg::ErrorText(error);
    }
  }
  // The index and the frame counts in the headers are written last; a
  // movie without them is not put in place.
  if (error >= 0) {
    error = av_write_trailer(format);
    if (error < 0) {
      reason = "the AVI index cannot be written: " + ffmpeg::ErrorText(error);
    }
  }
  if (error >= 0) {
    avio_flush(format->pb);
    if (format->pb->error < 0) {
      error = format->pb->error;
      reason = ffmpeg::ErrorText(error);
    }
  }
  if (error < 0) {
    save.Abandon();
    return error;
  }
  std::string detail;
  if (save.Commit(&detail) != SaveStatus::kSaved) {
    reason = save.Reason().empty() ? detail : save.Reason();
    return AVERROR(EIO);
  }
  return 0;
}

AviWriter::AviWriter() = default;
AviWriter::~AviWriter() {
  Close();
}

bool AviWriter::write_avi_frame(float frame, float first, float last, float step, int frameRate,
                                const std::string& fileName, const Picture& picture,
                                const AviCompression& compression) {
  ffmpeg::QuietLogs();
  reason_.clear();
  if (frame == first) {
    if (movie_) {
      Close();
      reason_.clear();
    }
    samples_ = 0;
    auto movie = std::make_unique<Movie>();
    std::string why;
    const std::optional<std::filesystem::path> target = LocateFile(fileName, &why);
    int error = AVERROR(ENOENT);
    if (target) {
      error = movie->Open(*target, picture.width, picture.height, frameRate, compression, why);
    }
    if (error < 0) {
      LogError("OpenAVI error is %ld\n", error);
      reason_ = why.empty() ? ffmpeg::ErrorText(error) : why;
      return false;  // the movie's destructor removes the temporary
    }
    movie_ = std::move(movie);
  }
  if (!movie_) {
    LogError("WriteOneFrame error is %ld\n", AVERROR(EINVAL));
    reason_ = "no movie is open (a movie starts at the first frame of the range)";
    return false;
  }
  std::string why;
  const int error = movie_->Write(picture, samples_, why);
  if (error < 0) {
    LogError("WriteOneFrame error is %ld\n", error);
    // The samples already written stay: the movie is finished as it is.
    Close();
    reason_ = why + (reason_.empty() ? "" : "; " + reason_);
    return false;
  }
  ++samples_;
  if (frame + step > last) {
    return Close();
  }
  return true;
}

bool AviWriter::Close() {
  if (!movie_) {
    return true;
  }
  std::string why;
  const int error = movie_->Finish(why);
  movie_.reset();
  if (error < 0) {
    reason_ = why.empty() ? ffmpeg::ErrorText(error) : why;
    return false;
  }
  return true;
}

bool AviWriter::IsOpen() const {
  return movie_ != nullptr;
}
int AviWriter::SamplesWritten() const {
  return samples_;
}
const std::string& AviWriter::Reason() const {
  return reason_;
}

}  // namespace zentrope
