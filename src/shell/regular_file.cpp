// Non-blocking open, regular-file check and bounded reading.
#include "shell/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentrope {

namespace {

// An open descriptor, closed when the scope ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void SetError(std::string* error, const std::filesystem::path& file, const std::string& why) {
  if (error) {
    *error = file.string() + ": " + why;
  }
}

// Opens without waiting (O_NONBLOCK: opening a FIFO with no writer would
// block) and refuses anything but a regular file; -1 on failure.
int OpenRegular(const std::filesystem::path& file, std::uintmax_t* size, std::string* error) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, file, std::strerror(errno));
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    SetError(error, file, std::strerror(errno));
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(error, file, S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file");
    ::close(fd);
    return -1;
  }
  // Regular files never block; reads go back to blocking so that a slow
  // disk is not taken for an error.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  if (size) {
    *size = static_cast<std::uintmax_t>(st.st_size);
  }
  return fd;
}

// Reads into any byte container; see ReadRegularFile.
template <typename Container>
bool ReadBounded(const std::filesystem::path& file, std::uintmax_t maxBytes, Container& contents,
                 std::string* error, std::size_t maxLine) {
  std::uintmax_t size = 0;
  const Descriptor fd(OpenRegular(file, &size, error));
  if (fd.get() < 0) {
    return false;
  }
  if (size > maxBytes) {
    SetError(error, file, "file too large");
    return false;
  }
  Container data;
  if (maxLine == 0) {
    data.reserve(static_cast<std::size_t>(size));
  }
  std::size_t lineLength = 0;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      SetError(error, file, std::strerror(errno));
      return false;
    }
    if (got == 0) {
      break;
    }
    std::size_t take = static_cast<std::size_t>(got);
    bool longLine = false;
    if (maxLine != 0) {
      for (std::size_t i = 0; i < take; ++i) {
        // One more than the limit, for a CR before the line's LF.
        lineLength = buffer[i] == '\n' ? 0 : lineLength + 1;
        if (lineLength > maxLine + 1) {
          take = i + 1;
          longLine = true;
          break;
        }
      }
    }
    if (data.size() + take > maxBytes) {
      SetError(error, file, "file too large");
      return false;
    }
    data.insert(data.end(), buffer, buffer + take);
    if (longLine) {
      break;
    }
  }
  contents = std::move(data);
  return true;
}

}  // namespace

bool ReadRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes,
                     std::string& contents, std::string* error, std::size_t maxLine) {
  return ReadBounded(file, maxBytes, contents, error, maxLine);
}

bool ReadRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes,
                     std::vector<std::uint8_t>& contents, std::string* error) {
  return ReadBounded(file, maxBytes, contents, error, 0);
}

long ReadRegularFileHead(const std::filesystem::path& file, void* buffer, std::size_t size,
                         std::string* error) {
  std::string why;
  const Descriptor fd(OpenRegular(file, nullptr, &why));
  if (fd.get() < 0) {
    if (error) {
      *error = why.substr(file.string().size() + 2);
    }
    return -1;
  }
  std::size_t total = 0;
  auto* out = static_cast<char*>(buffer);
  while (total < size) {
    const ssize_t got = ::read(fd.get(), out + total, size - total);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      if (error) {
        *error = std::strerror(errno);
      }
      return -1;
    }
    if (got == 0) {
      break;
    }
    total += static_cast<std::size_t>(got);
  }
  return static_cast<long>(total);
}

}  // namespace zentrope
