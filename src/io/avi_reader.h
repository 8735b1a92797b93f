// Reading single frames of a movie that FFmpeg decodes (an AVI, whatever its
// codec), so a movie can serve as an image map or decal. Frame numbers count
// from 1; frame 0 and negative frames give the first frame, a frame past the
// end the last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentrope {

class Image;

struct AviImageInfo {
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;  // 1 (8-bit, palette) or 3
};

// The size of the frame; false when the file is no movie, has no video
// stream, or its frames are neither 8 nor 24 bits.
bool avi_image_info(int frame, const std::string& fileName, AviImageInfo& info);

// Decodes the frame into destination (blue, green, red planes, top row
// first; 8-bit frames as palette indices with the palette). False, with the
// destination unchanged, on any failure.
bool read_avi_frame(int frame, const std::string& fileName, Image& destination,
                    std::string* error = nullptr);

// The same from a movie held in memory (what the picture loader has read).
bool DecodeAviFrame(const std::uint8_t* data, std::size_t size, int frame, Image& destination,
                    bool headerOnly, std::string* error = nullptr);

}  // namespace zentrope
