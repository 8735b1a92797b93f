// The attribute file (.att) beside a figure: for every node the materials
// its segment wears and the projection maps placed on it.
#pragma once

#include <string>

#include "figure/figure.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kAttributeVersion = 6;

std::string AttributeFilePath(const std::string& figurePath);

// Reads the attributes (by path from version 4 on, by depth-first order
// before). A missing or unreadable file, or a material file that cannot be
// found, gives the "default" material. Returns false when the file was not
// used.
bool ReadAttributeFile(Figure& figure, const std::string& path);
// The records as stored: the segment path (as written) and its attributes.
struct AttributeFileContents {
  int version = 0;
  std::vector<std::pair<std::string, SegmentAttributes>> records;
};
Result<AttributeFileContents> ParseAttributeFile(std::string contents, const std::string& path);

SaveStatus WriteAttributeFile(const Figure& figure, const std::string& path,
                              std::string* detail = nullptr, SaveTransaction* save = nullptr);

}  // namespace zentrope
