#include "io/avi_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "image/image.h"
#include "io/ffmpeg_support.h"
#include "shell/memory_pool.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

constexpr int kIoBufferSize = 1 << 15;

bool Fail(std::string* error, const std::string& why) {
  if (error) {
    *error = why;
  }
  return false;
}

// Where a movie's bytes come from: an open regular file or memory.
struct Source {
  int fd = -1;
  const std::uint8_t* data = nullptr;
  std::int64_t size = 0;
  std::int64_t position = 0;

  Source() = default;
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source() {
    if (fd >= 0) {
      close(fd);
    }
  }
};

int ReadSource(void* opaque, std::uint8_t* buffer, int size) {
  Source& s = *static_cast<Source*>(opaque);
  if (size <= 0) {
    return 0;
  }
  if (s.fd >= 0) {
    ssize_t n = 0;
    do {
      n = read(s.fd, buffer, static_cast<std::size_t>(size));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      return AVERROR(errno);
    }
    return n == 0 ? AVERROR_EOF : static_cast<int>(n);
  }
  if (s.position >= s.size) {
    return AVERROR_EOF;
  }
  const std::int64_t n = std::min<std::int64_t>(size, s.size - s.position);
  std::memcpy(buffer, s.data + s.position, static_cast<std::size_t>(n));
  s.position += n;
  return static_cast<int>(n);
}

std::int64_t SeekSource(void* opaque, std::int64_t offset, int whence) {
  Source& s = *static_cast<Source*>(opaque);
  if (s.fd >= 0) {
    if (whence & AVSEEK_SIZE) {
      struct stat st {};
      return fstat(s.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = lseek(s.fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
  }
  if (whence & AVSEEK_SIZE) {
    return s.size;
  }
  std::int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      break;
    case SEEK_CUR:
      base = s.position;
      break;
    case SEEK_END:
      base = s.size;
      break;
    default:
      return AVERROR(EINVAL);
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) {
    return AVERROR(EINVAL);
  }
  s.position = std::min(base + offset, s.size);
  return s.position;
}

// A movie names no other file: playlists and references are refused.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// The demuxer over a source and its I/O context, released together.
class MovieInput {
 public:
  MovieInput() = default;
  MovieInput(const MovieInput&) = delete;
  MovieInput& operator=(const MovieInput&) = delete;
  ~MovieInput() { avformat_close_input(&format_); }  // leaves our I/O context alone

  bool Open(Source& source, std::string* error) {
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) {
      return Fail(error, "out of memory");
    }
    io_.reset(
        avio_alloc_context(buffer, kIoBufferSize, 0, &source, &ReadSource, nullptr, &SeekSource));
    if (!io_) {
      av_free(buffer);
      return Fail(error, "out of memory");
    }
    AVFormatContext* format = avformat_alloc_context();
    if (!format) {
      return Fail(error, "out of memory");
    }
    format->pb = io_.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = &RefuseNestedOpen;
    const int e = avformat_open_input(&format, nullptr, nullptr, nullptr);
    if (e < 0) {  // the context is freed already
      return Fail(error, "not a movie: " + ffmpeg::ErrorText(e));
    }
    format_ = format;
    return true;
  }
  AVFormatContext* format() const { return format_; }

 private:
  ffmpeg::IoContextPtr io_;
  AVFormatContext* format_ = nullptr;
};

// How a decoded frame is handed over: 8-bit frames keep their palette
// indices (or grey values), every other frame becomes blue, green, red.
struct FrameLayout {
  int bytesPerPixel = 0;
  AVPixelFormat target = AV_PIX_FMT_NONE;
};

std::optional<FrameLayout> LayoutOf(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (!d || (d->flags & AV_PIX_FMT_FLAG_HWACCEL)) {
    return std::nullopt;
  }
  if (format == AV_PIX_FMT_PAL8) {
    return FrameLayout{1, AV_PIX_FMT_PAL8};
  }
  const bool grey = d->nb_components <= 2 && !(d->flags & AV_PIX_FMT_FLAG_RGB) &&
                    !(d->flags & AV_PIX_FMT_FLAG_PAL);
  return grey ? FrameLayout{1, AV_PIX_FMT_GRAY8} : FrameLayout{3, AV_PIX_FMT_BGR24};
}

// Decodes frame (from 1, clamped to the movie) of source's first video
// stream and hands it to destination (or only its size to info). Every
// FFmpeg object is released on every path by its owner.
bool ReadFrame(Source& source, int frame, bool headerOnly, Image* destination, AviImageInfo* info,
               std::string* error) {
  ffmpeg::QuietLogs();
  MovieInput input;
  if (!input.Open(source, error)) {
    return false;
  }
  AVFormatContext* format = input.format();
  const AVCodec* codec = nullptr;
  int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index == AVERROR_STREAM_NOT_FOUND) {
    // Containers that describe their streams only in the data.
    if (avformat_find_stream_info(format, nullptr) >= 0) {
      index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    }
  }
  if (index == AVERROR_STREAM_NOT_FOUND) {
    return Fail(error, "the movie has no video stream");
  }
  if (index < 0 || !codec) {
    return Fail(error, "the movie's video cannot be decoded here");
  }
  AVStream* stream = format->streams[index];
  const AVCodecParameters& par = *stream->codecpar;
  if (par.width > kMaxImageSide || par.height > kMaxImageSide || par.width < 0 || par.height < 0) {
    return Fail(error, "movie frame size out of range");
  }
  ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
  ffmpeg::PacketPtr packet(av_packet_alloc());
  ffmpeg::FramePtr decoded(av_frame_alloc());
  ffmpeg::FramePtr kept(av_frame_alloc());
  if (!decoder || !packet || !decoded || !kept) {
    return Fail(error, "out of memory");
  }
  int e = avcodec_parameters_to_context(decoder.get(), &par);
  if (e < 0) {
    return Fail(error, ffmpeg::ErrorText(e));
  }
  decoder->thread_count = 1;
  // The decoder's own frames must fit what is left under the memory limit
  // as well as the picture's sides.
  const MemoryPool& pool = MemoryPool::Main();
  const std::int64_t room = std::max<std::int64_t>(pool.limit() - pool.total_allocated(), 0);
  decoder->max_pixels =
      std::clamp<std::int64_t>(room / 4, 1, std::int64_t{kMaxImageSide} * kMaxImageSide);
  e = avcodec_open2(decoder.get(), codec, nullptr);
  if (e < 0) {
    return Fail(error, "the movie's decoder cannot start: " + ffmpeg::ErrorText(e));
  }

  // The length from the container, when it says; otherwise the frames are
  // counted as they are decoded and the last one found stands for any later.
  const std::int64_t length = stream->nb_frames > 0 ? stream->nb_frames : 0;
  std::int64_t wanted = std::max<std::int64_t>(std::int64_t{frame} - 1, 0);
  if (length > 0) {
    wanted = std::min(wanted, length - 1);
  }
  // Bounds the work on a damaged file: a few packets of other streams per
  // frame, and a margin for decoders that need several before the first.
  const std::int64_t maxPackets = 16 * (wanted + 1) + 4096;
  std::int64_t packets = 0;
  // Frames found so far, or (after a seek) the position after the last one.
  std::int64_t count = 0;
  // An AVI's index leads to the key frame at or before the wanted one, and
  // its time stamps count frames from the first, so the frames before that
  // key frame need not be decoded. Other containers are read from the start.
  const std::int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  const bool seeked = wanted > 0 && length > 0 && std::strcmp(format->iformat->name, "avi") == 0 &&
                      av_seek_frame(format, index, origin + wanted, AVSEEK_FLAG_BACKWARD) >= 0;
  bool draining = false;
  while (count <= wanted) {
    e = avcodec_receive_frame(decoder.get(), decoded.get());
    if (e == 0) {
      if (seeked) {
        const std::int64_t stamp = decoded->best_effort_timestamp;
        if (stamp == AV_NOPTS_VALUE || stamp < origin) {
          return Fail(error, "the movie's frames carry no usable times");
        }
        count = stamp - origin + 1;
      } else {
        ++count;
      }
      av_frame_unref(kept.get());
      av_frame_move_ref(kept.get(), decoded.get());
      continue;
    }
    if (e == AVERROR_EOF || (e == AVERROR(EAGAIN) && draining)) {
      break;
    }
    if (e != AVERROR(EAGAIN)) {
      return Fail(error, "the movie's frames cannot be decoded: " + ffmpeg::ErrorText(e));
    }
    if (++packets > maxPackets) {
      return Fail(error, "the movie's frames cannot be found");
    }
    e = av_read_frame(format, packet.get());
    if (e < 0) {
      // The end of the data, or data that cannot be read further: take
      // what the decoder still holds.
      draining = true;
      e = avcodec_send_packet(decoder.get(), nullptr);
      if (e < 0 && e != AVERROR_EOF) {
        return Fail(error, ffmpeg::ErrorText(e));
      }
      continue;
    }
    if (packet->stream_index != index || packet->size == 0) {
      av_packet_unref(packet.get());
      continue;
    }
    if (packet->flags & AV_PKT_FLAG_CORRUPT) {
      // Fewer bytes than the chunk claims: decoders of raw frames would
      // take them as shorter rows.
      av_packet_unref(packet.get());
      return Fail(error, "the movie is cut short inside a frame");
    }
    e = avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (e < 0 && e != AVERROR(EAGAIN)) {
      return Fail(error, "a movie frame cannot be decoded: " + ffmpeg::ErrorText(e));
    }
  }
  if (count == 0) {
    return Fail(error, "the movie holds no frame");
  }
  if (length > 0 && count <= wanted) {
    return Fail(error, "the movie is cut short: " + std::to_string(count) + " of " +
                           std::to_string(length) + " frames");
  }

  const int width = kept->width;
  const int height = kept->height;
  if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) {
    return Fail(error, "movie frame size out of range");
  }
  const auto pixelFormat = static_cast<AVPixelFormat>(kept->format);
  const std::optional<FrameLayout> layout = LayoutOf(pixelFormat);
  if (!layout) {
    return Fail(error, "the movie's frames are neither 8 nor 24 bits");
  }
  if (info) {
    *info = AviImageInfo{width, height, layout->bytesPerPixel};
  }
  if (headerOnly) {
    if (destination) {
      destination->width = static_cast<std::int16_t>(width);
      destination->height = static_cast<std::int16_t>(height);
      destination->bytesPerPixel = layout->bytesPerPixel;
      destination->format = ImageFormat::kRiff;
    }
    return true;
  }
  if (!destination) {
    return true;
  }

  // The picture and the converted rows must both fit under the limit.
  const std::int64_t bytes = std::int64_t{width} * height * layout->bytesPerPixel;
  if (bytes > (pool.limit() - pool.total_allocated()) / 2) {
    return Fail(error, "Can't Allocate Image");
  }
  Image image;
  image.fileName = destination->fileName;
  image.flags = destination->flags;
  if (!image.Allocate(width, height, layout->bytesPerPixel)) {
    return Fail(error, "Can't Allocate Image");
  }
  image.format = ImageFormat::kRiff;
  const int bpp = layout->bytesPerPixel;
  const std::uint8_t* rows = kept->data[0];
  int stride = kept->linesize[0];
  std::vector<std::uint8_t> converted;
  if (pixelFormat != layout->target) {
    ffmpeg::SwsPtr scaler(sws_getContext(width, height, pixelFormat, width, height, layout->target,
                                         SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                         nullptr, nullptr, nullptr));
    if (!scaler) {
      return Fail(error, "the movie's pixel format cannot be converted");
    }
    stride = width * bpp;
    converted.resize(static_cast<std::size_t>(bytes));
    std::uint8_t* target[4] = {converted.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {stride, 0, 0, 0};
    if (sws_scale(scaler.get(), kept->data, kept->linesize, 0, height, target, targetStride) !=
        height) {
      return Fail(error, "the movie's frame cannot be converted");
    }
    rows = converted.data();
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = rows + static_cast<std::ptrdiff_t>(stride) * y;
    for (int x = 0; x < width; ++x) {
      for (int p = 0; p < bpp; ++p) {
        image.Plane(y, p)[x] = row[x * bpp + p];
      }
    }
  }
  if (pixelFormat == AV_PIX_FMT_PAL8 && kept->data[1]) {
    // FFmpeg's palette: 256 native 32-bit words, 0xAARRGGBB.
    image.hasPalette = true;
    for (int i = 0; i < 256; ++i) {
      std::uint32_t c = 0;
      std::memcpy(&c, kept->data[1] + 4 * i, 4);
      image.palette[static_cast<std::size_t>(i) * 3] = static_cast<std::uint8_t>(c & 0xff);
      image.palette[static_cast<std::size_t>(i) * 3 + 1] =
          static_cast<std::uint8_t>((c >> 8) & 0xff);
      image.palette[static_cast<std::size_t>(i) * 3 + 2] =
          static_cast<std::uint8_t>((c >> 16) & 0xff);
    }
  }
  *destination = std::move(image);
  return true;
}

// Opens a movie by name: only a regular file, never waiting on a FIFO or a
// device.
bool OpenFileSource(const std::string& fileName, Source& source, std::string* error) {
  std::string why;
  const std::optional<std::filesystem::path> file = LocateFile(fileName, &why);
  if (!file) {
    return Fail(error, why.empty() ? fileName + ": cannot be found" : why);
  }
  const int fd = open(file->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return Fail(error, file->string() + ": " + std::strerror(errno));
  }
  source.fd = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Fail(error, file->string() + ": not a regular file");
  }
  return true;
}

}  // namespace

bool avi_image_info(int frame, const std::string& fileName, AviImageInfo& info) {
  Source source;
  AviImageInfo found;
  if (!OpenFileSource(fileName, source, nullptr) ||
      !ReadFrame(source, frame, true, nullptr, &found, nullptr)) {
    return false;
  }
  info = found;
  return true;
}

bool read_avi_frame(int frame, const std::string& fileName, Image& destination,
                    std::string* error) {
  Source source;
  return OpenFileSource(fileName, source, error) &&
         ReadFrame(source, frame, false, &destination, nullptr, error);
}

bool DecodeAviFrame(const std::uint8_t* data, std::size_t size, int frame, Image& destination,
                    bool headerOnly, std::string* error) {
  if (!data || size == 0) {
    return Fail(error, "not a movie: no data");
  }
  Source source;
  source.data = data;
  source.size = static_cast<std::int64_t>(std::min<std::size_t>(size, INT64_MAX));
  return ReadFrame(source, frame, headerOnly, &destination, nullptr, error);
}

}  // namespace zentrope
