// Targa pictures: the decoder (uncompressed and run-length; true colour of
// 15, 16, 24 and 32 bits, grey, colour-mapped; either origin) and the
// renderer's writer with run-length packets, the 2.0 extension area and the
// footer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "shell/atomic_file.h"

namespace zentrope {

// The 18-byte header reads completely and its image type is 1..11.
bool LooksLikeTarga(const std::uint8_t* data, std::size_t size);

// Decodes a Targa file held in memory. loadFlags: kLoadHeaderOnly,
// kLoadKeyColour. Never reads outside the buffer.
bool DecodeTarga(const std::uint8_t* data, std::size_t size, Image& out, std::uint16_t loadFlags,
                 std::string* error = nullptr);

// Writes a Targa file row by row; pixels are 32-bit values with blue in the
// low byte, then green, red and alpha. The file is written under a temporary
// name and takes its own name only when it is closed (`SaveTransaction`), so
// a failed write leaves the previous file as it was.
class TargaWriter {
 public:
  TargaWriter() = default;
  ~TargaWriter();
  TargaWriter(const TargaWriter&) = delete;
  TargaWriter& operator=(const TargaWriter&) = delete;

  // Type 10 (run-length) when compressed, else 2 from 24 bits up and 3
  // (grey) below (11 when a grey picture is compressed); descriptor 0x20 up
  // to 24 bits, 0x28 above.
  // With a shared save, the file is one of its temporaries: CloseTarga
  // finishes it and the caller's Commit puts it in place with the others.
  bool CreateTarga(const std::filesystem::path& name, int width, int height, int bits,
                   bool compressed, SaveTransaction* shared = nullptr);
  // One row, in order from the top. Compressed rows are packed in packets of
  // at most 128 pixels that never cross rows.
  bool WriteTargaRow(const std::uint32_t* pixels, int width, int bits);
  // Uncompressed files only: the row at its place (18 + row · width · bytes).
  bool WriteTargaRowAt(const std::uint32_t* pixels, int row, int width, int bits);
  bool ReadTargaRow(std::uint32_t* buffer, int row, int width, int bits);
  // Rewrites the depth byte, appends the extension area and the footer, and
  // gives the file its name. keyColour is 0xRRGGBB.
  bool CloseTarga(std::uint32_t keyColour, float pixelAspect, int bits,
                  std::uint32_t developerOffset = 0);
  // Why the last call failed, in the OS's words where there are some.
  const std::string& Reason() const { return reason_; }

 private:
  bool Put(const void* data, std::size_t n);
  void Abandon();

  std::unique_ptr<SaveTransaction> save_;
  SaveTransaction* shared_ = nullptr;  // the caller's save, when it gave one
  std::FILE* file_ = nullptr;          // held by save_
  std::string reason_;
  bool compressed_ = false;
};

// Packs one row of 1-, 3- or 4-byte pixels into Targa run-length packets.
std::vector<std::uint8_t> PackTargaRow(const std::uint32_t* pixels, int width, int bytesPerPixel);

}  // namespace zentrope
