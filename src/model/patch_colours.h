// Patch colours: groups of patches, named by their corner-number keys, that
// take a colour or a material; stored in the segment's .col file.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/patch.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

using PatchKey = std::array<std::int32_t, 4>;

struct ColourGroup {
  std::string materialPath;  // material file, or empty
  std::string name = "Untitled";
  Vector3 colour;  // red, green, blue; red −1 means "use the material"
  std::vector<PatchKey> keys;
};

inline constexpr float kUseMaterial = -1.0f;
inline constexpr int kColourVersion = 4;

// The attribute of the patch with these corner numbers: the first group (in
// list order) holding a key that contains all of the patch's numbers gives
// its colour, or its material when red is −1 and a material is named.
PatchAttribute LookupAttribute(const PatchKey& numbers, const std::vector<ColourGroup>& groups);

// Reads versions 1 to 4. Material names are resolved against the segment's
// (absolute) folder; one that cannot be found fails the read. Project names
// are kept as written.
Result<std::vector<ColourGroup>> ParseColours(std::string contents, const std::string& name,
                                              const std::filesystem::path& segmentFolder);
// Writes version 4; material paths below the segment's folder are written
// relative to it.
SaveStatus WriteColours(const std::vector<ColourGroup>& groups, const std::filesystem::path& file,
                        std::string* detail = nullptr, SaveTransaction* save = nullptr);

class TextReader;
// Reads a patch key line ("%ld %ld %ld %ld", 32-bit numbers).
bool ReadPatchKey(TextReader& reader, PatchKey& key);

// A name as it is written into a document in folder: relative to the folder
// when it lies below it, else absolute; a name held relative is taken from
// the current directory. Project names ("NAME:rest") are written as they
// are.
std::string RelativeToFolder(const std::string& path, const std::filesystem::path& folder);
// The file a stored name refers to: project names through the project list,
// others against folder when relative; mapped to this file system.
std::filesystem::path ResolveInFolder(const std::string& stored,
                                      const std::filesystem::path& folder);
// A stored name as a document holds it in memory: made absolute against
// folder (the absolute folder of the document that holds it); project names
// stay as written, to be resolved when the file is opened and written back
// unchanged.
std::string AbsoluteDocumentName(const std::string& stored, const std::filesystem::path& folder);
// Both at once, for a reader that opens the file a name refers to and keeps
// the name: the file (as ResolveInFolder) and the held name (as
// AbsoluteDocumentName).
struct StoredName {
  std::filesystem::path file;
  std::string held;
};
StoredName ResolveStoredName(const std::string& stored, const std::filesystem::path& folder);

}  // namespace zentrope
