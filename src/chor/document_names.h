// Following the names documents hold: the figures and actions of a scene,
// the segments, skins and attributes of a figure, the muscle and spine files
// of an action, the pictures and materials of a segment; and finding the
// ones that do not resolve before a render does.
#pragma once

#include <string>
#include <vector>

#include "model/text_file.h"
#include "shell/result.h"

namespace zentrope {

// The names a choreography holds, each with its line: its figures, the
// actions placed on them and its rotoscope pictures. Fails when the
// choreography cannot be read.
Result<std::vector<NameReference>> ChoreographyNames(const std::string& path);

// The names a document holds, chosen by its tag line (CHOR, FIGU, ACTI,
// MORP, SCUL), or by its extension when the tag is none of these (so a
// damaged .fig fails as a figure); any other file holds none. Materials
// (MATE, IMAT, .mat) hold none but fail when they cannot be read.
Result<std::vector<NameReference>> DocumentNames(const std::string& name);

struct NameProblem {
  // Where the name is written; line 0 when the problem is the document
  // itself (a referenced document that cannot be read).
  NameReference where;
  // Where the name was looked for; empty for a project the list lacks.
  std::string file;
  std::string message;
};

// Follows every name the document holds and the names held by the documents
// those refer to (each document once), and lists, in the order met, each
// name that does not resolve to an existing file and each referenced
// document that cannot be read.
std::vector<NameProblem> CheckNames(const std::string& document);

// "DOCUMENT:LINE: MESSAGE", the document named relative to the current
// directory when below it.
std::string FormatNameProblem(const NameProblem& problem);

}  // namespace zentrope
