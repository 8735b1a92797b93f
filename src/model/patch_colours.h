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

// Reads versions 1 to 4. Material paths are resolved against the segment's
// folder; one that cannot be found fails the read.
Result<std::vector<ColourGroup>> ParseColours(std::string contents, const std::string& name,
                                              const std::filesystem::path& segmentFolder);
// Writes version 4; material paths below the segment's folder are written
// relative to it.
SaveStatus WriteColours(const std::vector<ColourGroup>& groups, const std::filesystem::path& file,
                        std::string* detail = nullptr);

class TextReader;
// Reads a patch key line ("%ld %ld %ld %ld", 32-bit numbers).
bool ReadPatchKey(TextReader& reader, PatchKey& key);

// A path written relative to folder when it lies below it.
std::string RelativeToFolder(const std::string& path, const std::filesystem::path& folder);
// A stored path resolved against folder when it is relative.
std::filesystem::path ResolveInFolder(const std::string& stored,
                                      const std::filesystem::path& folder);
// A stored document name made absolute against folder; project names
// ("NAME:rest") stay as they are, to be resolved when the file is opened.
std::string AbsoluteDocumentName(const std::string& stored, const std::filesystem::path& folder);

}  // namespace zentrope
