// The text-file conventions every document reader and writer shares: one
// item per line, at most 255 characters a line, numbers through printf/scanf
// formats in the "C" locale ("%g" written, "%f" read, so values pass through
// six-significant-digit rounding), and the header line "TAG V 0 1 0 0 0"
// followed by a reserved "0" line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrope {

inline constexpr std::size_t kMaxLineLength = 255;

// Reads a document held in memory line by line. Line ends may be LF or CRLF.
// A line longer than 255 characters is an error, not two lines.
class TextReader {
 public:
  TextReader(std::string contents, std::string name);

  // Reads a whole file; false (with error set) when it cannot be read or is
  // larger than any document can be.
  static bool Load(const std::filesystem::path& file, std::string& contents, std::string* error);

  // The next line without its line end; false at the end or on an error.
  bool Next(std::string& line);
  // After the last record: true when only blank lines remain; otherwise
  // fails ("data after the last record"), so that a count that stopped the
  // read short is never taken for the whole document.
  bool ExpectEnd();
  // Lines not yet read, for checking counts against what the file can hold.
  std::size_t LinesRemaining() const { return totalLines_ - linesRead_; }
  std::size_t LineNumber() const { return linesRead_; }
  // "name:line: what", or empty.
  const std::string& Error() const { return error_; }
  void Fail(const std::string& what);

  // Notes that the line just read (or the given line) holds a name of
  // another file (stored as written), for a NameRecorder alive on this
  // thread.
  void NoteName(const std::string& stored, std::size_t line = 0) const;

  // scanf on the next line; false when the line is missing, yields fewer
  // than minFields fields, or holds an integer too large for its variable. Returns the field count
  // in fields when given.
  bool ScanLine(int minFields, int* fields, const char* format, ...)
      __attribute__((format(scanf, 4, 5)));

 private:
  std::string contents_;
  std::string name_;
  std::size_t pos_ = 0;
  std::size_t totalLines_ = 0;
  std::size_t linesRead_ = 0;
  std::string error_;
};

// Resolves a document name (project paths, names from other machines) and
// reads the whole file. located receives the file-system path when given.
bool LoadDocumentText(const std::string& name, std::string& contents, std::string* error,
                      std::filesystem::path* located = nullptr);

// The absolute folder of the file a document name refers to (project names
// resolved); the names a document holds are resolved against it when it is
// read. A bare file name's folder is the current directory.
std::filesystem::path DocumentFolder(const std::string& name);

// A companion's name: the document's name with its extension replaced, in
// upper case when the document's own extension is upper case (old sets
// written on case-insensitive disks: BOX.SEG beside BOX.GRP).
std::string CompanionName(const std::string& document, std::string_view extension);

// A name of another file met while reading a document: the document (as its
// reader was given it), the line (from 1) and the name as written.
struct NameReference {
  std::string document;
  std::size_t line = 0;
  std::string stored;
};

// While alive, collects the names every reader on this thread notes, so
// that a check can follow them without a reader of its own per format.
// Readers that refuse a document over a missing name (surface maps,
// colours) go on reading while one is alive, so that every name is seen.
class NameRecorder {
 public:
  NameRecorder();
  ~NameRecorder();
  NameRecorder(const NameRecorder&) = delete;
  NameRecorder& operator=(const NameRecorder&) = delete;

  const std::vector<NameReference>& Names() const { return names_; }
  // True while a recorder is alive on this thread.
  static bool Active();

 private:
  friend class TextReader;
  std::vector<NameReference> names_;
  NameRecorder* previous_;
};

// The tag of a document file: the first word of its first line, or empty
// when it cannot be read.
std::string DocumentTag(const std::filesystem::path& file);

// scanf in the "C" locale on a line; returns the number of fields assigned
// (0 when none, never EOF). Integers are read wide first: a number too large
// for its variable (65537 for a short) makes the line yield 0 fields
// instead of a wrapped value.
int ScanText(const std::string& line, const char* format, ...) __attribute__((format(scanf, 2, 3)));

// Parses "TAG v a b c d e": exactly seven fields and the exact tag letters.
bool ParseHeader(const std::string& line, std::string_view tag, int& version);

// Reads the header and the reserved second line ("%ld").
bool ReadHeader(TextReader& reader, std::string_view tag, int& version);

// printf in the "C" locale to a stream, line by line; remembers failure.
class TextWriter {
 public:
  explicit TextWriter(std::FILE* f) : f_(f) {}
  // One formatted line; the line end is added. A value that is not a
  // finite number, or a line longer than 255 characters, abandons the
  // document instead (Why() says which).
  void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "TAG v 0 1 0 0 0" and, unless the document has none, the reserved "0"
  // line.
  void Header(std::string_view tag, int version, bool reservedLine = true);
  void Fail() { ok_ = false; }
  // Abandons the document with a reason for the save's message.
  void Fail(const std::string& why);
  bool ok() const { return ok_; }
  // Why the document was abandoned, when a line refused it; empty otherwise.
  const std::string& Why() const { return why_; }

 private:
  std::FILE* f_;
  bool ok_ = true;
  std::string why_;
};

enum class SaveStatus;
class SaveTransaction;

// Writes a document the way every writer does: resolves its name (project
// paths too), then through a temporary file in the target's folder writes
// the header line, the reserved "0" line (unless reservedLine is off) and
// the body. The body gets the folder that relative paths are written
// against.
SaveStatus WriteDocument(
    const std::string& name, std::string_view tag, int version,
    const std::function<void(TextWriter&, const std::filesystem::path& folder)>& body,
    std::string* detail = nullptr, bool reservedLine = true);
// The same, as one file of a save of several: the file is written to its
// temporary and put in place when the save is committed. A null save
// saves the file on its own.
SaveStatus WriteDocument(
    SaveTransaction* save, const std::string& name, std::string_view tag, int version,
    const std::function<void(TextWriter&, const std::filesystem::path& folder)>& body,
    std::string* detail = nullptr, bool reservedLine = true);

// "%g" of a float as printf gives it, for tests and callers that build lines.
std::string FormatG(float v);

}  // namespace zentrope
