// The figure file (.fig): versions 1 to 4 read, 4 written.
#pragma once

#include <filesystem>
#include <string>

#include "figure/figure.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

class TextReader;

inline constexpr int kFigureVersion = 4;
// Figures nesting deeper, or holding more nodes, are refused when read:
// posing costs grow with both.
inline constexpr int kMaxFigureNodeDepth = 1000;
inline constexpr int kMaxFigureNodes = 32767;

// Reads a figure; segment paths are made absolute against the figure's
// folder and each node's bounds are read from its segment file. Fails with
// "Requires Newer Software" for version 5 and later, else "Trouble Opening
// Figure".
Result<Figure> ReadFigure(const std::string& path);
Result<Figure> ParseFigure(std::string contents, const std::string& path);
// Node names in documents (figures, attributes, skins, actions, frames): a
// ghost is stored by its keyword "ghost" (an empty line reads as one too),
// never as a file name.
bool IsGhostName(const std::string& stored);
// A stored node name made absolute against the document's folder; project
// names and the ghost's keyword stay as they are.
std::string NodeNameFromStored(const std::string& stored, const std::filesystem::path& folder);
// A node name read from a document: noted for a name check unless it is the
// ghost's keyword (line: where it is written, when not the line just read),
// and made absolute as NodeNameFromStored does.
std::string ReadNodeName(const TextReader& reader, const std::string& stored,
                         const std::filesystem::path& folder, std::size_t line = 0);
// A node name as written into a document in folder: relative when below it.
std::string StoredNodeName(const std::string& name, const std::filesystem::path& folder);

// Writes the figure; paths below the figure's folder are written relative.
SaveStatus WriteFigure(const Figure& figure, const std::string& path, std::string* detail = nullptr,
                       SaveTransaction* save = nullptr);

}  // namespace zentrope
