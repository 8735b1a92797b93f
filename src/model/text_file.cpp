// Line reading and C-locale number formatting.
#include "model/text_file.h"

#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "shell/atomic_file.h"
#include "shell/project_paths.h"
#include "shell/regular_file.h"

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

// One conversion of a scanf format: "%*3hd" or "%255[^\n]".
struct ScanSpec {
  bool suppressed = false;
  std::string width;
  std::string length;
  char conversion = '\0';
  std::string text;  // the conversion as written: "d", or "[^\n]" for a scan set
};

// Reads the conversion that f (just after its '%', not "%%") starts and
// moves f past it. False at an unfinished conversion.
bool ParseScanSpec(const char*& f, ScanSpec& spec) {
  spec.suppressed = *f == '*';
  if (spec.suppressed) {
    ++f;
  }
  while (std::isdigit(static_cast<unsigned char>(*f))) {
    spec.width += *f++;
  }
  while (*f && std::strchr("hlLqjzt", *f)) {
    spec.length += *f++;
  }
  spec.conversion = *f;
  if (spec.conversion == '\0') {
    return false;
  }
  spec.text += *f++;
  if (spec.conversion == '[') {
    // The scan set, where a leading ']' (after an optional '^') is a member.
    if (*f == '^') {
      spec.text += *f++;
    }
    if (*f == ']') {
      spec.text += *f++;
    }
    while (*f && *f != ']') {
      spec.text += *f++;
    }
    if (*f != ']') {
      return false;
    }
    spec.text += *f++;
  }
  return true;
}

// The integer conversions of a scanf format, each with the range of the
// variable it stores into.
struct IntegerField {
  long min = 0;
  unsigned long max = 0;
  bool isUnsigned = false;
};

// Rewrites a scanf format so that it matches exactly what the format
// matches, but stores each integer conversion into a long (or unsigned
// long) and skips every other conversion. False when the format holds
// something this cannot mirror.
bool WideFormat(const char* format, std::string& wide, std::vector<IntegerField>& fields) {
  for (const char* f = format; *f;) {
    if (*f != '%') {
      wide += *f++;
      continue;
    }
    if (f[1] == '%') {
      wide += "%%";
      f += 2;
      continue;
    }
    ++f;
    ScanSpec spec;
    if (!ParseScanSpec(f, spec) || spec.conversion == 'n') {
      return false;
    }
    const char conversion = spec.conversion;
    const std::string& length = spec.length;
    if (!spec.suppressed && (conversion == 'd' || conversion == 'i' || conversion == 'u')) {
      IntegerField field;
      field.isUnsigned = conversion == 'u';
      if (length == "h") {
        field.min = field.isUnsigned ? 0 : std::numeric_limits<short>::min();
        field.max = field.isUnsigned ? std::numeric_limits<unsigned short>::max()
                                     : std::numeric_limits<short>::max();
      } else if (length == "hh") {
        field.min = field.isUnsigned ? 0 : std::numeric_limits<signed char>::min();
        field.max = field.isUnsigned ? std::numeric_limits<unsigned char>::max()
                                     : std::numeric_limits<signed char>::max();
      } else if (length.empty()) {
        field.min = field.isUnsigned ? 0 : std::numeric_limits<int>::min();
        field.max = field.isUnsigned ? std::numeric_limits<unsigned>::max()
                                     : std::numeric_limits<int>::max();
      } else {
        // Already as wide as a long: strtol saturates instead of wrapping.
        field.min = std::numeric_limits<long>::min();
        field.max = field.isUnsigned ? std::numeric_limits<unsigned long>::max()
                                     : std::numeric_limits<long>::max();
      }
      fields.push_back(field);
      // Unsigned conversions are read signed: scanf takes "-1" for the
      // largest value, which is no wrapping of a count.
      wide += "%" + spec.width + "l" + (field.isUnsigned ? 'd' : conversion);
      continue;
    }
    wide += "%*" + spec.width + length + spec.text;
  }
  return true;
}

// True when every integer the format stores from the line fits the
// variable it goes to. scanf stores "65537" into a short as 1, which would
// turn a count into another count; the numbers are read wide here first.
bool IntegersInRange(const std::string& line, const char* format) {
  std::string wide;
  std::vector<IntegerField> fields;
  constexpr std::size_t kMaxFields = 12;
  if (!WideFormat(format, wide, fields) || fields.empty() || fields.size() > kMaxFields) {
    return true;
  }
  long v[kMaxFields] = {};
  const int n = std::sscanf(line.c_str(), wide.c_str(), &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                            &v[6], &v[7], &v[8], &v[9], &v[10], &v[11]);
  for (int i = 0; i < n && i < static_cast<int>(fields.size()); ++i) {
    const IntegerField& field = fields[static_cast<std::size_t>(i)];
    const long value = v[i];
    const bool fits =
        field.isUnsigned
            ? field.max >= static_cast<unsigned long>(std::numeric_limits<long>::max()) ||
                  (value >= -static_cast<long>(field.max) && value <= static_cast<long>(field.max))
            : value >= field.min && value <= static_cast<long>(field.max);
    if (!fits) {
      return false;
    }
  }
  return true;
}

// True when every floating-point value the scan stored (the first
// `assigned` conversions) is finite: "1e40" overflows a float to infinity,
// which no writer may put back into a file.
bool StoredFloatsFinite(const char* format, int assigned, va_list args) {
  int stored = 0;
  for (const char* f = format; *f && stored < assigned;) {
    if (*f != '%') {
      ++f;
      continue;
    }
    if (f[1] == '%') {
      f += 2;
      continue;
    }
    ++f;
    ScanSpec spec;
    if (!ParseScanSpec(f, spec)) {
      break;
    }
    if (spec.suppressed) {
      continue;
    }
    if (std::strchr("fFeEgGaA", spec.conversion)) {
      bool finite = true;
      if (spec.length == "l") {
        finite = std::isfinite(*va_arg(args, double*));
      } else if (spec.length == "L") {
        finite = std::isfinite(*va_arg(args, long double*));
      } else {
        finite = std::isfinite(*va_arg(args, float*));
      }
      if (!finite) {
        return false;
      }
    } else {
      (void)va_arg(args, void*);
    }
    if (spec.conversion != 'n') {
      ++stored;
    }
  }
  return true;
}

// scanf in the "C" locale; an integer too large for its variable, or a
// number too large for a float, makes the whole line yield nothing
// (outOfRange set when given).
int VScan(const std::string& line, const char* format, va_list args, bool* outOfRange = nullptr) {
  CLocaleScope c;
  va_list stored;
  va_copy(stored, args);
  const int n = std::vsscanf(line.c_str(), format, args);
  const bool finite = n <= 0 || StoredFloatsFinite(format, n, stored);
  va_end(stored);
  if (n > 0 && (!finite || !IntegersInRange(line, format))) {
    if (outOfRange) {
      *outOfRange = true;
    }
    return 0;
  }
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
  // No line may pass the limit, so a file without line ends (a device, a
  // binary file) is read only up to its first over-long line.
  return ReadRegularFile(file, kMaxDocumentBytes, contents, error, kMaxLineLength);
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

bool TextReader::ExpectEnd() {
  if (!error_.empty()) {
    return false;
  }
  std::string line;
  while (pos_ < contents_.size()) {
    if (!Next(line)) {
      return false;
    }
    if (line.find_first_not_of(" \t\r\f\v") != std::string::npos) {
      Fail("data after the last record");
      return false;
    }
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
  bool outOfRange = false;
  const int n = VScan(line, format, args, &outOfRange);
  va_end(args);
  if (fields) {
    *fields = n;
  }
  if (outOfRange) {
    Fail("number out of range in \"" + line + "\"");
    return false;
  }
  if (n < minFields) {
    Fail("expected " + std::to_string(minFields) + " fields in \"" + line + "\"");
    return false;
  }
  return true;
}

std::string DocumentTag(const std::filesystem::path& file) {
  char line[kMaxLineLength + 1] = {};
  const long got = ReadRegularFileHead(file, line, kMaxLineLength);
  if (got <= 0) {
    return {};
  }
  const std::string text(line, static_cast<std::size_t>(got));
  const std::string first = text.substr(0, text.find_first_of("\r\n"));
  return first.substr(0, first.find(' '));
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

namespace {

// True when every floating-point argument of a printf format is finite:
// "inf" and "nan" would be written, and no reader takes them back.
bool FiniteArguments(const char* format, va_list args) {
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      continue;
    }
    ++f;
    if (*f == '%') {
      continue;
    }
    while (*f && std::strchr("-+ #0", *f)) {
      ++f;
    }
    if (*f == '*') {
      (void)va_arg(args, int);
      ++f;
    }
    while (std::isdigit(static_cast<unsigned char>(*f))) {
      ++f;
    }
    if (*f == '.') {
      ++f;
      if (*f == '*') {
        (void)va_arg(args, int);
        ++f;
      }
      while (std::isdigit(static_cast<unsigned char>(*f))) {
        ++f;
      }
    }
    std::string length;
    while (*f && std::strchr("hlLqjzt", *f)) {
      length += *f++;
    }
    switch (*f) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o':
      case 'c':
        if (length == "l") {
          (void)va_arg(args, long);
        } else if (length == "ll" || length == "q" || length == "j") {
          (void)va_arg(args, long long);
        } else if (length == "z" || length == "t") {
          (void)va_arg(args, std::size_t);
        } else {
          (void)va_arg(args, int);
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length == "L") {
          if (!std::isfinite(va_arg(args, long double))) {
            return false;
          }
        } else if (!std::isfinite(va_arg(args, double))) {
          return false;
        }
        break;
      case 's':
      case 'p':
        (void)va_arg(args, void*);
        break;
      default:
        return true;  // nothing this walk knows after here
    }
    if (!*f) {
      break;
    }
  }
  return true;
}

}  // namespace

void TextWriter::Line(const char* format, ...) {
  if (!ok_) {
    return;
  }
  CLocaleScope c;
  va_list args;
  va_start(args, format);
  va_list check;
  va_copy(check, args);
  const bool finite = FiniteArguments(format, check);
  va_end(check);
  char buffer[kMaxLineLength + 2];
  const int n = finite ? std::vsnprintf(buffer, sizeof buffer, format, args) : 0;
  va_end(args);
  // What the readers refuse is never written: a value that is not a
  // number, or a line past the length limit.
  if (!finite) {
    Fail("a value is not a finite number");
    return;
  }
  if (n < 0 || static_cast<std::size_t>(n) > kMaxLineLength) {
    Fail(n < 0 ? "cannot format a line" : "a line longer than 255 characters");
    return;
  }
  if (std::fputs(buffer, f_) == EOF || std::fputc('\n', f_) == EOF) {
    ok_ = false;
  }
}

void TextWriter::Fail(const std::string& why) {
  if (ok_ && why_.empty()) {
    why_ = why;
  }
  ok_ = false;
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
    SaveTransaction* save, const std::string& name, std::string_view tag, int version,
    const std::function<void(TextWriter&, const std::filesystem::path& folder)>& body,
    std::string* detail, bool reservedLine) {
  if (!save) {
    SaveTransaction own;
    const SaveStatus status = WriteDocument(&own, name, tag, version, body, detail, reservedLine);
    return status == SaveStatus::kSaved ? own.Commit(detail) : status;
  }
  std::string error;
  const std::optional<std::filesystem::path> file = LocateFile(name, &error);
  if (!file) {
    if (detail) {
      *detail = error;
    }
    save->Fail(SaveStatus::kWriteError, name, error);
    return SaveStatus::kWriteError;
  }
  // Names are written relative to the absolute folder, so that a target
  // given as a bare or relative name still gets names that resolve from it.
  const std::filesystem::path folder = AbsoluteFolderOf(*file);
  std::string refused;
  const SaveStatus status = save->Stage(
      *file,
      [&](std::FILE* f) {
        TextWriter w(f);
        w.Header(tag, version, reservedLine);
        body(w, folder);
        refused = w.Why();
        if (!refused.empty()) {
          // The value's own reason, not the stream's, is why this save fails.
          save->Fail(SaveStatus::kWriteError, *file, refused);
        }
        return w.ok();
      },
      detail);
  if (status != SaveStatus::kSaved && !refused.empty() && detail) {
    *detail = file->string() + ": " + refused;
  }
  return status;
}

SaveStatus WriteDocument(
    const std::string& name, std::string_view tag, int version,
    const std::function<void(TextWriter&, const std::filesystem::path& folder)>& body,
    std::string* detail, bool reservedLine) {
  return WriteDocument(nullptr, name, tag, version, body, detail, reservedLine);
}

std::string FormatG(float v) {
  CLocaleScope c;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v));
  return buffer;
}

}  // namespace zentrope
