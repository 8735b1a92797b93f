// Decoders of the picture formats other than Targa. Each reads a whole file
// held in memory, treats it as untrusted, and fails cleanly on anything it
// cannot decode: no read outside the buffer, no allocation the data cannot
// justify.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/image.h"

namespace zentrope {

// Records why a decode failed; returns false for the caller to return.
inline bool DecodeFailure(std::string* error, const std::string& why) {
  if (error) {
    *error = why;
  }
  return false;
}

bool DecodePcx(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
               std::string* error = nullptr);
bool DecodePict(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
                std::string* error = nullptr);
bool DecodeIlbm(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
                std::string* error = nullptr);
bool DecodePng(const std::uint8_t* data, std::size_t size, Image& out, bool headerOnly,
               std::string* error = nullptr);

// PackBits (also IFF ByteRun1): fills exactly outSize bytes from the reader
// without reading at or past the absolute position end.
class ByteReader;
bool UnpackBits(ByteReader& in, std::size_t end, std::uint8_t* out, std::size_t outSize);

// Writes a picture as PNG (grey, colour or colour with alpha).
bool WritePng(const Image& image, const std::string& path, std::string* error = nullptr);

}  // namespace zentrope
