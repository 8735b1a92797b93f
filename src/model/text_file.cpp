// Line reading and C-locale number formatting.
#include "model/text_file.h"

#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "shell/atomic_file.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

// The largest document file accepted; far above any real model.
constexpr std::uintmax_t kMaxDocumentBytes = std::uintmax_t{1} << 30;

// Switches this thread to the "C" locale for the life of the scope.
class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  static locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
  }
  locale_t previous_;
};

int VScan(const std::string& line, const char* format, va_list args) {
  CLocaleScope c;
  const int n = std::vsscanf(line.c_str(), format, args);
  return n < 0 ? 0 : n;
}

thread_local NameRecorder* activeRecorder = nullptr;

}  // namespace

NameRecorder::NameRecorder() : previous_(activeRecorder) {
  activeRecorder = this;
}

NameRecorder::~NameRecorder() {
  activeRecorder = previous_;
}

bool NameRecorder::Active() {
  return activeRecorder != nullptr;
}

void TextReader::NoteName(const std::string& stored, std::size_t line) const {
  if (activeRecorder) {
    activeRecorder->names_.push_back({name_, line ? line : linesRead_, stored});
  }
}

namespace {

// The file made absolute first: a bare name's parent is empty, and the empty
// folder is the current directory.
std::filesystem::path AbsoluteFolderOf(const std::filesystem::path& file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  return ec ? file.parent_path() : absolute.lexically_normal().parent_path();
}

}  // namespace

std::filesystem::path DocumentFolder(const std::string& name) {
  const std::optional<std::filesystem::path> file = LocateFile(name);
  return AbsoluteFolderOf(file ? *file : std::filesystem::path(name));
}

std::string CompanionName(const std::string& document, std::string_view extension) {
  std::filesystem::path p(document);
  const std::string own = p.extension().string();
  std::string ext(extension);
  const bool upper = own.size() > 1 && std::none_of(own.begin(), own.end(), [](char c) {
                       return std::islower(static_cast<unsigned char>(c));
                     });
  if (upper) {
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
      return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
  }
  p.replace_extension(ext);
  return p.string();
}

TextReader::TextReader(std::string contents, std::string name)
    : contents_(std::move(contents)), name_(std::move(name)) {
  totalLines_ = static_cast<std::size_t>(std::count(contents_.begin(), contents_.end(), '\n'));
  if (!contents_.empty() && contents_.back() != '\n') {
    ++totalLines_;
  }
}

bool TextReader::Load(const std::filesystem::path& file, std::string& contents,
                      std::string* error) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kMaxDocumentBytes) {
    if (error) {
      *error = file.string() + ": " + (ec ? ec.message() : std::string("file too large"));
    }
    return false;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error) {
      *error = file.string() + ": " + std::strerror(errno);
    }
    return false;
  }
  contents.assign(static_cast<std::size_t>(size), '\0');
  in.read(contents.data(), static_cast<std::streamsize>(size));
  contents.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

bool LoadDocumentText(const std::string& name, std::string& contents, std::string* error,
                      std::filesystem::path* located) {
  const std::optional<std::filesystem::path> file = LocateFile(name, error);
  if (!file) {
    return false;
  }
  if (located) {
    *located = *file;
  }
  return TextReader::Load(*file, contents, error);
}

void TextReader::Fail(const std::string& what) {
  if (error_.empty()) {
    error_ = name_ + ":" + std::to_string(linesRead_) + ": " + what;
  }
}

bool TextReader::Next(std::string& line) {
  if (!error_.empty()) {
    return false;
  }
  if (pos_ >= contents_.size()) {
    Fail("unexpected end of file");
    return false;
  }
  std::size_t end = contents_.find('\n', pos_);
  const std::size_t next = end == std::string::npos ? contents_.size() : end + 1;
  if (end == std::string::npos) {
    end = contents_.size();
  }
  line.assign(contents_, pos_, end - pos_);
  pos_ = next;
  ++linesRead_;
  // Written on a system with CRLF line ends (CRCRLF once converted twice):
  // a carriage return kept at the end would be written back before the line
  // end and read as one, so a name would change on every save.
  while (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  if (line.size() > kMaxLineLength) {
    Fail("line longer than 255 characters");
    return false;
  }
  if (line.find('\0') != std::string::npos) {
    Fail("binary data in a text line");
    return false;
  }
  return true;
}

bool TextReader::ScanLine(int minFields, int* fields, const char* format, ...) {
  std::string line;
  if (!Next(line)) {
    return false;
  }
  va_list args;
  va_start(args, format);
  const int n = VScan(line, format, args);
  va_end(args);
  if (fields) {
    *fields = n;
  }
  if (n < minFields) {
    Fail("expected " + std::to_string(minFields) + " fields in \"" + line + "\"");
    return false;
  }
  return true;
}

std::string DocumentTag(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  char line[kMaxLineLength + 1] = {};
  in.getline(line, sizeof line);
  const std::string text(line);
  return text.substr(0, text.find(' '));
}

int ScanText(const std::string& line, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = VScan(line, format, args);
  va_end(args);
  return n;
}

bool ParseHeader(const std::string& line, std::string_view tag, int& version) {
  char word[256] = {};
  short v = 0, a = 0, b = 0, c = 0, d = 0, e = 0;
  if (ScanText(line, "%255s %hd %hd %hd %hd %hd %hd", word, &v, &a, &b, &c, &d, &e) != 7) {
    return false;
  }
  if (tag != word) {
    return false;
  }
  version = v;
  return true;
}

bool ReadHeader(TextReader& reader, std::string_view tag, int& version) {
  std::string line;
  if (!reader.Next(line)) {
    return false;
  }
  if (!ParseHeader(line, tag, version)) {
    reader.Fail("not a " + std::string(tag) + " document");
    return false;
  }
  long reserved = 0;
  return reader.ScanLine(1, nullptr, "%ld", &reserved);
}

void TextWriter::Line(const char* format, ...) {
  if (!ok_) {
    return;
  }
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  const int n = std::vfprintf(f_, format, args);
  va_end(args);
  if (n < 0 || std::fputc('\n', f_) == EOF) {
    ok_ = false;
  }
}

void TextWriter::Header(std::string_view tag, int version, bool reservedLine) {
  const std::string t(tag);
  Line("%s %d %hd %hd %hd %hd %hd", t.c_str(), version, short{0}, short{1}, short{0}, short{0},
       short{0});
  if (reservedLine) {
    Line("0");
  }
}

SaveStatus WriteDocument(
    const std::string& name, std::string_view tag, int version,
    const std::function<void(TextWriter&, const std::filesystem::path& folder)>& body,
    std::string* detail, bool reservedLine) {
  const std::optional<std::filesystem::path> file = LocateFile(name, detail);
  if (!file) {
    return SaveStatus::kWriteError;
  }
  // Names are written relative to the absolute folder, so that a target
  // given as a bare or relative name still gets names that resolve from it.
  const std::filesystem::path folder = AbsoluteFolderOf(*file);
  return SaveAtomically(
      *file,
      [&](std::FILE* f) {
        TextWriter w(f);
        w.Header(tag, version, reservedLine);
        body(w, folder);
        return w.ok();
      },
      detail);
}

std::string FormatG(float v) {
  CLocaleScope c;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v));
  return buffer;
}

}  // namespace zentrope
