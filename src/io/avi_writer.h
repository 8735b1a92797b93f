// AviWriter: collects rendered frames into one AVI movie, opened on the
// first frame of a range and closed after the last, after a failed write or
// when the render stops early. The movie is written to a temporary file in
// the target's folder and renamed into place when it is closed, so a movie
// that cannot be opened leaves the old file.
#pragma once

#include <memory>
#include <string>

#include "io/avi_compression.h"

namespace zentrope {

struct Picture;

class AviWriter {
 public:
  AviWriter();
  ~AviWriter();  // closes an open movie
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Writes picture as the next sample. The frame equal to first opens the
  // movie (counter 1) with compression; frame + step > last closes it after
  // the write. Handler 0 stores uncompressed 24-bit bottom-up frames in a
  // "vids" stream at frameRate; another handler names a codec FFmpeg can
  // encode. Failures log "OpenAVI error is %ld\n" or "WriteOneFrame error is
  // %ld\n" with FFmpeg's error number and return false (a failed write
  // closes the movie, keeping the samples already written).
  bool write_avi_frame(float frame, float first, float last, float step, int frameRate,
                       const std::string& fileName, const Picture& picture,
                       const AviCompression& compression = {});

  // Closes the movie when one is open (the render stopped early); false
  // when finishing the file failed.
  bool Close();
  bool IsOpen() const;
  // Samples written to the open (or last closed) movie.
  int SamplesWritten() const;
  // Why the last call failed, for the user (the OS's or FFmpeg's words).
  const std::string& Reason() const;

 private:
  struct Movie;
  std::unique_ptr<Movie> movie_;
  int samples_ = 0;
  std::string reason_;
};

}  // namespace zentrope
