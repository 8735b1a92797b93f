// The frame-number stamp (being written: placeholder bodies).

#include "render/frame_stamp.h"

#include <cstdio>

namespace zentrope {

StampLabel DrawStampLabel(const std::string&) { return {}; }

std::string StampText(bool movie, int frame, const std::string& outputName,
                      const std::string& frameFileName) {
  if (!movie) return frameFileName;
  char number[16];
  std::snprintf(number, sizeof number, "%4.4d", frame);
  return std::string(number) + " " + outputName;
}

void StampFrameNumber(Picture&, const std::string&) {}

}  // namespace zentrope
