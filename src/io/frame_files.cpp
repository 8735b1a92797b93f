// Frame lists and frame file names (being written: placeholder bodies).

#include "io/frame_files.h"

namespace zentrope {

std::vector<float> FrameRange(float first, float last, float step) {
  std::vector<float> frames;
  if (!(step > 0.0f)) step = 1.0f;
  for (float f = first; f <= last + 1e-4f && frames.size() < kMaxFrameCount; f += step) {
    frames.push_back(f);
  }
  return frames;
}

std::optional<std::vector<float>> ParseFrameList(const std::string&, float, std::string* error) {
  if (error) *error = "not yet";
  return std::nullopt;
}

bool HasFramePattern(const std::string&) { return false; }

std::string TargaFrameName(const std::string& outputName, int frame) {
  std::filesystem::path p(outputName);
  return (p.parent_path() / (p.stem().string() + std::to_string(frame) + p.extension().string()))
      .string();
}

std::string FrameFileName(const std::string& outputName, int frame) {
  return TargaFrameName(outputName, frame);
}

bool FrameFileComplete(const std::filesystem::path& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec) && std::filesystem::file_size(file, ec) > 0;
}

std::vector<FrameFile> FindFrameFiles(const std::string&) { return {}; }

}  // namespace zentrope
