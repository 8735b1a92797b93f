// The choreography file (.cho): versions 1 to 9 read, 9 written; and
// importing one choreography into another.
#pragma once

#include <string>

#include "chor/choreography.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kChoreographyVersion = 9;
// Figure trees deeper than this are refused when read.
inline constexpr int kMaxFigureDepth = 1000;

// Reads a choreography. Names in the file are made absolute against its
// folder (project names stay as written, but must be resolvable); each
// placement's action file is peeked for its length and stride. Path timing
// lists of older files become Ease keys. Fails with "Requires Newer
// Software" for version 10 and later, else "Trouble Opening Choreography".
Result<Choreography> read_choreography(const std::string& path);
Result<Choreography> ParseChoreography(std::string contents, const std::string& path);

// Writes version 9; names below the file's folder are written relative to
// it. The output size line comes from the scene settings (the caller copies
// the render settings there first when they should be stored).
SaveStatus write_choreography(const Choreography& chor, const std::string& path,
                              std::string* detail = nullptr);

// Appends the scratch choreography's paths, lights and top-level figures
// (its camera and camera target are dropped). Imported paths whose names
// are taken are renamed as a new name would be, and what rides them
// follows. When the current choreography still has only its untouched
// initial light, the imported lights replace it.
void ImportChoreography(Choreography& into, Choreography scratch);

}  // namespace zentrope
