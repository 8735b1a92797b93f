// The material file (.mat): the header "MATE 2 0 1 0 0 0" (any tag that
// begins "MATE" is read), then the node tree depth-first: per node its type
// code, a flags line, its channel set, for Checker and Spherical a
// turbulence flag and record, then a flag and record for each child. The
// particle material file (tag "IMAT") holds one node of type 87. Neither has
// the reserved second line.
#pragma once

#include <string>
#include <string_view>

#include "material/material.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kMaterialVersion = 2;
inline constexpr std::string_view kMaterialTag = "MATE";
inline constexpr std::string_view kParticleMaterialTag = "IMAT";

// True for the first word of a material file's header ("MATE", "MATERIAL").
bool IsMaterialTag(std::string_view tag);

// Reads a material file. Fails with "Trouble Opening Material" ("file:line:
// what" in the detail), or "Requires Newer Software" for a newer header or
// channel set; nothing half-read is returned.
Result<Material> ReadMaterialFile(const std::string& name);
Result<Material> ParseMaterial(std::string contents, const std::string& name);

// Reads a particle material: the name is given the extension ".mat". Its
// root node is named "default".
Result<Material> ReadParticleMaterialFile(const std::string& name);
Result<Material> ParseParticleMaterial(std::string contents, const std::string& name);

// Reads either kind of file, chosen by its first word ("IMAT" or not), at
// the name as given (the document commands and the name check).
Result<Material> ReadAnyMaterialFile(const std::string& name);

// Writes what the readers read: a particle material as an "IMAT" file,
// any other as a "MATE" file. A node without a channel set is written with
// an empty one of its kind.
SaveStatus WriteMaterialFile(const Material& material, const std::string& name,
                             std::string* detail = nullptr);

}  // namespace zentrope
