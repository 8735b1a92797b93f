// Golden pictures: a rendered picture compared with a stored Targa, channel
// by channel with a tolerance and a limit on the pixels that may differ.
// On failure the actual picture and a difference picture are written next
// to the test's temporary folder and their paths printed. Goldens live in
// tests/data/render and are rewritten only by the render_goldens tool.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/image.h"
#include "image/image_file.h"
#include "render/zbuffer.h"

namespace zentrope::testing {

inline std::filesystem::path GoldenPath(const std::string& name) {
  return std::filesystem::path(ZENTROPE_SOURCE_DIR) / "tests" / "data" / "render" / (name + ".tga");
}

inline bool SavePicture(const Picture& picture, const std::filesystem::path& path) {
  Image image;
  if (!image.Allocate(picture.width, picture.height, 3)) {
    return false;
  }
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = picture.Pixel(x, y);
      image.SetBgra(x, y, p[0], p[1], p[2]);
    }
  }
  return SaveTarga(image, path.string(), false);
}

// The folder failure pictures go to: beside the per-test temporary folders,
// kept after the test.
inline std::filesystem::path FailureFolder() {
  const auto folder = std::filesystem::temp_directory_path() / "zentrope_render_failures";
  std::filesystem::create_directories(folder);
  return folder;
}

// Passes when no channel differs by more than `tolerance` except on at most
// `maxDiffering` pixels.
inline ::testing::AssertionResult MatchesGolden(const Picture& actual, const std::string& name,
                                                int tolerance, int maxDiffering) {
  Image golden;
  golden.fileName = GoldenPath(name).string();
  std::string error;
  if (!LoadImage(golden, -1, kImageQuiet, &error)) {
    return ::testing::AssertionFailure()
           << "cannot read golden " << golden.fileName << ": " << error;
  }
  if (golden.width != actual.width || golden.height != actual.height || golden.bytesPerPixel < 3) {
    return ::testing::AssertionFailure()
           << "golden " << name << " is " << golden.width << "x" << golden.height << ", picture "
           << actual.width << "x" << actual.height;
  }
  Picture difference;
  difference.Reset(actual.width, actual.height);
  int differing = 0;
  int worst = 0;
  for (int y = 0; y < actual.height; ++y) {
    for (int x = 0; x < actual.width; ++x) {
      const std::uint8_t* a = actual.Pixel(x, y);
      int pixelWorst = 0;
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(static_cast<int>(a[c]) - golden.Plane(y, c)[x]);
        pixelWorst = std::max(pixelWorst, d);
        difference.bgr[(static_cast<std::size_t>(y) * actual.width + x) * 3 + c] =
            static_cast<std::uint8_t>(std::min(255, d * 16));
      }
      worst = std::max(worst, pixelWorst);
      differing += pixelWorst > tolerance ? 1 : 0;
    }
  }
  if (differing <= maxDiffering) {
    return ::testing::AssertionSuccess();
  }
  const auto folder = FailureFolder();
  const auto actualPath = folder / (name + "_actual.tga");
  const auto differencePath = folder / (name + "_difference.tga");
  SavePicture(actual, actualPath);
  SavePicture(difference, differencePath);
  return ::testing::AssertionFailure()
         << differing << " pixels of " << name << " differ by more than " << tolerance << " (worst "
         << worst << ", allowed " << maxDiffering << "); actual: " << actualPath
         << ", difference (x16): " << differencePath;
}

}  // namespace zentrope::testing
