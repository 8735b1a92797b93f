// Frame lists and the names of frame files.

#include "io/frame_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>

namespace zentrope {

namespace {

// The longest file name (without extension) a Targa frame gets.
constexpr std::size_t kTargaNameLimit = 8;
constexpr long kLastFrame = 999999;

const char kListForms[] =
    "frames N, ranges A-B or A-BxS, separated by commas (1-100, 1-100x5, 1,3,7-20)";

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where the file part of a name starts.
std::size_t FilePartStart(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

// The extension's dot in the file part, or npos: a leading dot names a
// hidden file, not an extension.
std::size_t ExtensionDot(const std::string& name) {
  const std::size_t start = FilePartStart(name);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot <= start ? std::string::npos : dot;
}

// The last run of '#' in the file part: its start and length (0 when none).
std::pair<std::size_t, std::size_t> FramePattern(const std::string& name) {
  const std::size_t last = name.find_last_of('#');
  if (last == std::string::npos || last < FilePartStart(name)) {
    return {std::string::npos, 0};
  }
  std::size_t first = last;
  while (first > 0 && name[first - 1] == '#') {
    --first;
  }
  return {first, last - first + 1};
}

struct ListParser {
  const std::string& text;
  std::size_t pos = 0;

  void SkipSpaces() {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
      ++pos;
    }
  }
  bool Eat(char c) {
    SkipSpaces();
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // A whole number; more digits than any frame has read as one past the
  // last frame, so the range check reports them.
  std::optional<long> Number() {
    SkipSpaces();
    if (pos >= text.size() || !IsDigit(text[pos])) {
      return std::nullopt;
    }
    long value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
      value = std::min(value * 10 + (text[pos] - '0'), kLastFrame + 1);
      ++pos;
    }
    return value;
  }
};

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

std::vector<float> FrameRange(float first, float last, float step) {
  std::vector<float> frames;
  if (!(step > 0.0f) || !std::isfinite(step)) {
    step = 1.0f;
  }
  // Each frame from the first and its index, so steps like 0.1 do not
  // drift.
  for (std::size_t i = 0; i < kMaxFrameCount; ++i) {
    const double frame = static_cast<double>(first) + static_cast<double>(i) * step;
    if (!(frame <= static_cast<double>(last) + 1e-4)) {
      break;
    }
    frames.push_back(static_cast<float>(frame));
  }
  return frames;
}

std::optional<std::vector<float>> ParseFrameList(const std::string& text, float defaultStep,
                                                 std::string* error) {
  auto fail = [&](const std::string& message) -> std::optional<std::vector<float>> {
    if (error) {
      *error = message;
    }
    return std::nullopt;
  };
  ListParser parser{text};
  parser.SkipSpaces();
  if (parser.pos == text.size()) {
    return fail("empty frame list: expected " + std::string(kListForms));
  }
  std::vector<float> frames;
  // Whole frames (the usual case) are marked in a table of all frame
  // numbers; frames between them, from a fractional scene step, in a set.
  std::vector<bool> seenWhole;
  std::unordered_set<float> seenBetween;
  auto firstTime = [&](float value) {
    if (value == std::floor(value) && value >= 0.0f && value <= static_cast<float>(kLastFrame)) {
      if (seenWhole.empty()) {
        seenWhole.resize(static_cast<std::size_t>(kLastFrame) + 1);
      }
      auto seen = seenWhole[static_cast<std::size_t>(value)];
      const bool first = !seen;
      seen = true;
      return first;
    }
    return seenBetween.insert(value).second;
  };
  // Frames as listed, repeats included, so a list of many long ranges
  // cannot make the parse run without bound.
  std::size_t listed = 0;
  while (true) {
    const std::size_t itemStart = parser.pos;
    auto itemText = [&] {
      std::size_t end = text.find(',', itemStart);
      if (end == std::string::npos) {
        end = text.size();
      }
      return Quoted(text.substr(itemStart, end - itemStart));
    };
    const std::optional<long> first = parser.Number();
    if (!first) {
      return fail("frame list item " + itemText() + ": expected " + kListForms);
    }
    std::optional<long> last;
    double step = defaultStep;
    bool writtenStep = false;
    if (parser.Eat('-')) {
      last = parser.Number();
      if (!last) {
        return fail("frame list item " + itemText() + ": expected the last frame after '-'");
      }
      if (parser.Eat('x') || parser.Eat('X')) {
        const std::optional<long> written = parser.Number();
        if (!written) {
          return fail("frame list item " + itemText() +
                      ": expected a whole-number step of at least 1 after 'x'");
        }
        step = static_cast<double>(*written);
        writtenStep = true;
      }
    }
    parser.SkipSpaces();
    if (parser.pos < text.size() && text[parser.pos] != ',') {
      return fail("frame list item " + itemText() + ": expected " + kListForms);
    }
    for (const long frame : {*first, last.value_or(*first)}) {
      if (frame > kLastFrame) {
        return fail("frame list item " + itemText() + ": expected frames from 0 to " +
                    std::to_string(kLastFrame));
      }
    }
    if (last && *first > *last) {
      return fail("frame list item " + itemText() +
                  ": expected the first frame of a range at most its last");
    }
    // A written step is whole; the scene's own may be a fraction (fields),
    // as long as it moves forwards.
    if (last && (!std::isfinite(step) || (writtenStep ? step < 1.0 : !(step > 0.0)))) {
      char shown[32];
      std::snprintf(shown, sizeof shown, "%g", step);
      return fail("frame list item " + itemText() +
                  ": expected a step above 0 (at least 1 when written), not " + shown +
                  (writtenStep ? "" : " (the scene's step; write A-BxS)"));
    }
    const double end = static_cast<double>(last.value_or(*first));
    for (std::size_t i = 0;; ++i) {
      const double frame = static_cast<double>(*first) + static_cast<double>(i) * step;
      if (frame > end + 1e-4) {
        break;
      }
      if (++listed > kMaxFrameCount) {
        return fail("frame list holds more than " + std::to_string(kMaxFrameCount) +
                    " frames: expected at most " + std::to_string(kMaxFrameCount));
      }
      const float value = static_cast<float>(frame);
      if (firstTime(value)) {
        frames.push_back(value);
      }
      if (!last) {
        break;
      }
    }
    if (!parser.Eat(',')) {
      break;
    }
  }
  return frames;
}

bool HasFramePattern(const std::string& name) {
  return FramePattern(name).second > 0;
}

std::string TargaFrameName(const std::string& outputName, int frame) {
  const std::size_t nameStart = FilePartStart(outputName);
  const std::size_t dot = ExtensionDot(outputName);
  const std::string extension = dot == std::string::npos ? "" : outputName.substr(dot);
  std::string base =
      outputName.substr(nameStart, dot == std::string::npos ? std::string::npos : dot - nameStart);
  const std::string number = std::to_string(frame);
  const std::size_t room = number.size() >= kTargaNameLimit ? 0 : kTargaNameLimit - number.size();
  if (base.size() > room) {
    std::size_t cut = room;
    // Never leave half a UTF-8 character behind.
    while (cut > 0 && IsUtf8Continuation(base[cut])) {
      --cut;
    }
    base.erase(cut);
  }
  return outputName.substr(0, nameStart) + base + number + extension;
}

std::string FrameFileName(const std::string& outputName, int frame) {
  const auto [start, width] = FramePattern(outputName);
  if (width == 0) {
    return TargaFrameName(outputName, frame);
  }
  // A run wider than any number is written as the number padded to it;
  // snprintf's width is an int.
  const int padding = static_cast<int>(std::min<std::size_t>(width, 64));
  char number[80];
  std::snprintf(number, sizeof number, "%0*d", padding, frame);
  std::string digits = number;
  if (width > 64) {
    digits.insert(digits.front() == '-' ? 1 : 0, width - 64, '0');
  }
  return outputName.substr(0, start) + digits + outputName.substr(start + width);
}

bool FrameFileComplete(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  return !ec && size > 0;
}

std::vector<FrameFile> FindFrameFiles(const std::string& outputName) {
  const std::size_t nameStart = FilePartStart(outputName);
  const std::string folderPart = outputName.substr(0, nameStart);
  const std::filesystem::path folder = folderPart.empty() ? "." : folderPart;
  const auto [patternStart, patternWidth] = FramePattern(outputName);
  std::vector<FrameFile> found;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    return found;
  }
  // The name a frame would get, compared with each file: a file counts only
  // when its number gives back its own name (so walk_00012.png is not frame
  // 12 of walk_####.png, nor SHOT7.TGA.bak a frame of SHOT.TGA).
  auto matches = [&](const std::string& name, long long number) {
    return number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max() &&
           FrameFileName(outputName, static_cast<int>(number)).substr(nameStart) == name;
  };
  // Where the number may end: before the pattern's tail, or before the
  // extension for Targa names.
  std::string tail;
  if (patternWidth > 0) {
    tail = outputName.substr(patternStart + patternWidth);
  } else {
    const std::size_t dot = ExtensionDot(outputName);
    tail = dot == std::string::npos ? "" : outputName.substr(dot);
  }
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= tail.size() ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
      continue;
    }
    const std::size_t numberEnd = name.size() - tail.size();
    std::size_t digitsStart = numberEnd;
    while (digitsStart > 0 && IsDigit(name[digitsStart - 1])) {
      --digitsStart;
    }
    // Try the longest number first: a Targa base may end in digits itself.
    std::optional<int> frame;
    for (std::size_t start = digitsStart; start < numberEnd && !frame; ++start) {
      if (numberEnd - start > 10) {
        continue;
      }
      const long long magnitude = std::stoll(name.substr(start, numberEnd - start));
      if (start > 0 && name[start - 1] == '-' && matches(name, -magnitude)) {
        frame = static_cast<int>(-magnitude);
      } else if (matches(name, magnitude)) {
        frame = static_cast<int>(magnitude);
      }
    }
    if (frame && FrameFileComplete(it->path())) {
      found.push_back({*frame, std::filesystem::path(FrameFileName(outputName, *frame))});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const FrameFile& a, const FrameFile& b) { return a.frame < b.frame; });
  return found;
}

}  // namespace zentrope
