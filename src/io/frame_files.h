// The frames a render covers and the file each frame goes to: frame lists
// ("1-100", "1-100x5", "1,3,7-20"), numbered frame names (a run of '#'
// padded to its width, else the 8-character Targa rule), and the finished
// frames of a sequence on disk (for resuming and for assembling a movie).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zentrope {

// The most frames one list or range may hold; more is a mistake, not a
// render (and would allocate without bound).
inline constexpr std::size_t kMaxFrameCount = 1000000;

// first, first + step, ... while ≤ last (within 1e-4 of last counts, so a
// step of 0.1 reaches it). Empty when first > last; step ≤ 0 or not finite
// is taken as 1.
std::vector<float> FrameRange(float first, float last, float step);

// A frame list: comma-separated items, each a frame "N", a range "A-B"
// (by defaultStep), or a range with its own step "A-BxS". Frames are whole
// numbers from 0 to 999999; the result keeps the order given and drops
// repeats. A written step is a whole number; defaultStep may be fractional.
// Empty text, a malformed item, a range whose first frame is after its
// last, a written step below 1, a default step not above 0, or more than
// kMaxFrameCount frames as listed (repeats counted, so the work is bounded)
// fail, with *error naming the item and saying what was expected. Spaces
// around numbers and commas are allowed.
std::optional<std::vector<float>> ParseFrameList(const std::string& text, float defaultStep,
                                                 std::string* error);

// True when the name's file part holds a run of '#'.
bool HasFramePattern(const std::string& name);

// The Targa rule: the extension stripped, the frame number ("%d")
// appended, the base cut (never inside a UTF-8 character) so that base and
// number are at most 8 characters, then the extension again; the folder is
// kept. "SHOT.TGA" at 12 → "SHOT12.TGA", "WALKCYCLE.TGA" at 7 →
// "WALKCYC7.TGA".
std::string TargaFrameName(const std::string& outputName, int frame);

// The file of frame `frame` of an image sequence: the last run of '#' in
// the file part replaced by the number padded with zeros to the run's
// width (wider numbers are written whole, "%0*d"), else TargaFrameName. A
// negative frame is written with its sign.
std::string FrameFileName(const std::string& outputName, int frame);

// A frame file that a render finished: a regular file (links followed)
// that is not empty. Frames are renamed into place only when complete, so
// this is what resuming may skip.
bool FrameFileComplete(const std::filesystem::path& file);

struct FrameFile {
  int frame = 0;
  std::filesystem::path path;
};

// The finished frames of a sequence in the name's folder, by frame number:
// the files that FrameFileName gives for the number their name holds (in
// place of the '#' run, or ending the Targa base), exactly: walk_00012.png
// is no frame of walk_####.png. Only complete files (FrameFileComplete)
// count. Sorted by frame; empty when the folder cannot be read.
std::vector<FrameFile> FindFrameFiles(const std::string& outputName);

}  // namespace zentrope
