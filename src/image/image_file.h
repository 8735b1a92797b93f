// Loading pictures from files: format detection, numbered sequences, the
// loading message and the error-log lines; and saving pictures as Targa or
// PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image.h"

namespace zentrope {

// The format of a file's first bytes, tested in order: RIFF, PCX, Targa,
// PICT, IFF ILBM, then PNG.
ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size);

// The file name of a numbered sequence at a frame: trailing digits of the
// base name replaced by the frame number ("%d"), or, when that file does not
// exist, by the number padded with zeros to the original width.
std::string SequenceFileName(const std::string& name, int frame);

// Loads image.fileName (at frame, or as named when frame < 0). loadFlags:
// kLoadHeaderOnly, kLoadKeyColour. A file that is a movie as named is not a
// numbered sequence: the frame picks the movie's frame (the first when
// frame < 1).
bool LoadImage(Image& image, int frame, std::uint16_t loadFlags, std::string* error = nullptr);

// Decodes a picture held in memory, whatever its format. A movie (RIFF)
// gives its frame movieFrame (from 1; clamped to the movie).
bool DecodeImage(const std::uint8_t* data, std::size_t size, Image& out, std::uint16_t loadFlags,
                 std::string* error = nullptr, int movieFrame = 1);

// Frames of RIFF movies are decoded by the movie reader, which sits above
// the pictures and registers itself here at start-up. Without one a movie is
// refused.
using MovieFrameDecoder = bool (*)(const std::uint8_t* data, std::size_t size, int frame,
                                   Image& out, bool headerOnly, std::string* error);
void SetMovieFrameDecoder(MovieFrameDecoder decoder);

// Writes a picture as an uncompressed or run-length Targa (24 or 32 bits)
// through a temporary file; error receives why it failed (not the name).
bool SaveTarga(const Image& image, const std::string& path, bool compressed,
               std::string* error = nullptr);

// Encodes blue, green, red rows (top row first) as a colour PNG into an open
// stream; false (and why) when the encoder or the stream fails.
bool EncodePngBgr(std::FILE* stream, const std::uint8_t* bgr, int width, int height,
                  std::string* error = nullptr);

}  // namespace zentrope
