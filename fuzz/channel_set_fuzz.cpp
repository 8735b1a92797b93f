// libFuzzer entry for the channel set record that actions, choreographies and
// materials hold, read and written in memory: every input must read or fail
// cleanly, and what reads must write, read back and write again byte for
// byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "anim/channel_file.h"
#include "fuzz_support.h"

using namespace zentrope;

namespace {

// The text WriteChannelSet gives for set.
std::string Written(const ChannelSet& set) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* f = open_memstream(&buffer, &length);
  if (!f) {
    fuzz::Finding("open_memstream failed");
  }
  TextWriter writer(f);
  WriteChannelSet(writer, set);
  std::fclose(f);
  std::string text(buffer, length);
  std::free(buffer);
  if (!writer.ok()) {
    fuzz::Finding("a channel set that reads does not write");
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TextReader reader(std::string(reinterpret_cast<const char*>(data), size), "fuzz/in");
  Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(reader);
  if (!set) {
    return 0;
  }
  const std::string first = Written(**set);
  TextReader again(first, "fuzz/a");
  Result<std::unique_ptr<ChannelSet>> back = ReadChannelSet(again);
  if (!back) {
    fuzz::Finding("a written channel set does not read back: " + back.failure().detail);
  }
  if (again.LinesRemaining() != 0) {
    fuzz::Finding("a written channel set reads back with lines left over");
  }
  if (Written(**back) != first) {
    fuzz::Finding("a channel set read back writes otherwise");
  }
  return 0;
}
