// Assembling finished frame pictures into one AVI movie: the last step of a
// render spread over several machines, since a movie cannot be written by
// several at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "io/avi_compression.h"
#include "io/frame_files.h"

namespace zentrope {

struct EncodeOutcome {
  bool ok = false;
  int frames = 0;     // samples written
  std::string file;   // the picture or movie at fault
  std::string error;  // why, for the user
  bool stopped = false;
};

// Reads each picture (any format the picture loader reads) in order and
// appends it to the movie at frameRate. Every picture's header is read
// first: a picture that cannot be read or whose size differs from the
// first's fails before any frame is encoded. The movie is made under a
// working name beside the target and renamed over it only when complete,
// so a failure or a stop (Escape, polled between frames) leaves the old
// movie as it was. progress(i, n) is called before each picture.
EncodeOutcome EncodeMovie(const std::vector<FrameFile>& frames, const std::string& movie,
                          int frameRate, const AviCompression& compression,
                          const std::function<void(int, int)>& progress = {});

}  // namespace zentrope
