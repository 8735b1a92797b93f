// The segment file (.seg) and its group file (.grp): reading, merging,
// writing and the save commands of a segment document.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/segment.h"
#include "model/segment_registry.h"
#include "model/text_file.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kSegmentVersion = 2;
inline constexpr int kGroupVersion = 1;

// What a segment file holds.
struct SegmentData {
  std::shared_ptr<SplineSet> splines;
  Bounds fileBounds;  // line 3 as stored
  Vector3 pivot;
  std::int32_t highestNumber = 0;
  int version = 0;
  // The registry's count for this read (none when merging).
  SegmentRegistry::Use use;
};

// Parses segment file text. Every number read is raised by mergeOffset.
// Stacks are resolved by number and placed (hooks on their curves) and every
// tangent is computed. Fails with "Trouble Opening Segment" on a wrong header,
// a short or malformed line, an impossible count, a stack naming a number
// that does not exist, or a file that yields no spline.
Result<SegmentData> ParseSegment(std::string contents, const std::string& name,
                                 std::int32_t mergeOffset = 0);

// Reads a segment document by name (project paths allowed). Unless merging,
// a name already loaded returns the shared splines and raises the use count;
// a fresh read is registered.
Result<SegmentData> ReadSegment(const std::string& name, bool merge,
                                SegmentRegistry& registry = SegmentRegistry::Process());

// Writes splines as a segment file at path with the segment's pivot; points
// above the segment's highest number are renumbered first.
SaveStatus WriteSegment(Segment& segment, const std::filesystem::path& path, SplineSet& splines,
                        std::string* detail = nullptr, SaveTransaction* save = nullptr);

// A companion beside a segment file (stem.grp, stem.sur, stem.col): the
// existing file whose name matches without regard to case (an exact match
// first), else the name in the case of the segment's extension.
std::filesystem::path CompanionPath(const std::filesystem::path& segmentFile,
                                    const char* extension);
Result<std::vector<Group>> ParseGroups(std::string contents, const std::string& name);
Result<std::vector<Group>> ReadGroups(const std::filesystem::path& segmentFile);
SaveStatus WriteGroups(const Segment& segment, const std::filesystem::path& segmentFile,
                       std::string* detail = nullptr, SaveTransaction* save = nullptr);

// The names a segment's companions hold (decal pictures in its .sur file,
// materials in its .col file), each with its file and line; names resolve
// against the segment's folder. Fails when the segment itself cannot be
// read.
Result<std::vector<NameReference>> SegmentNames(const std::string& name);

// The messages a save reports; empty when everything was written.
struct SaveReport {
  std::vector<std::string> failures;
  // Why the first failing file failed, in the OS's words where there are
  // some ("Read-only file system").
  std::string reason;
  bool Ok() const { return failures.empty(); }
};

// A save of one or more documents and their companions as one: every file
// is staged, and put in place only when all were written.
struct DocumentSave {
  SaveTransaction files;
  SaveReport report;
  // Notes a failed write in the report: the folder message first when a
  // folder was the cause, then the file's own message.
  void Note(SaveStatus status, int messageId, const std::string& detail);
  // Stages a file with its message for a failure.
  void Expect(const std::filesystem::path& file, int messageId);
  // Puts everything in place when nothing failed; true when saved.
  bool Commit();

 private:
  std::vector<std::pair<std::filesystem::path, int>> messages_;
};

// Stages each file of the segment whose modified flag is set, in order
// segment, surface maps, colours, groups; a companion the segment no longer
// has (no maps, colours or groups) is removed. Returns the flags staged.
std::uint16_t StageSegment(Segment& segment, DocumentSave& save);

// Writes each file whose modified flag is set, in order segment, surface
// maps, colours, groups, as one save: every failure is reported, and then
// nothing is written. Success clears the flags.
SaveReport SaveSegment(Segment& segment);

// Saves under a new name (".seg" added when the file name has no period).
// Refuses a name another open segment uses, and an existing file unless
// overwrite is set; then marks every file the segment has as changed and
// saves.
SaveReport SaveSegmentAs(Segment& segment, std::string name, bool overwrite,
                         SegmentRegistry& registry = SegmentRegistry::Process());

// Writes the selected points as a new segment: runs of selected points become
// splines, positions are taken relative to the pivot, and line 4 carries the
// segment's pivot.
SaveReport SaveSelectionAsSegment(Segment& segment, std::string name, bool overwrite,
                                  SegmentRegistry& registry = SegmentRegistry::Process());

// Opens a segment document: its splines (shared when already loaded), the
// working copy and the group file.
Result<Segment> OpenSegment(const std::string& name,
                            SegmentRegistry& registry = SegmentRegistry::Process());

// Merges a model file into an open segment: its splines are appended,
// moved by the segment's pivot, numbered above the segment's highest number,
// and the working copy is rebuilt. A file without the segment tag goes to
// the foreign model reader (DXF), when one is registered. A file that yields
// no spline fails. On any failure the segment is unchanged.
EditOutcome ImportModel(Segment& segment, const std::string& name);

// Reads a model file of another program (its text and its path) into
// splines; the exchange formats register one at start-up.
using ForeignModelReader = Result<SplineSet> (*)(const std::string& contents,
                                                 const std::string& file);
void SetForeignModelReader(ForeignModelReader reader);

}  // namespace zentrope
