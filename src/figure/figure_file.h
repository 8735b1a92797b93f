// The figure file (.fig): versions 1 to 4 read, 4 written.
#pragma once

#include <string>

#include "figure/figure.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kFigureVersion = 4;

// Reads a figure; segment paths are made absolute against the figure's
// folder and each node's bounds are read from its segment file. Fails with
// "Requires Newer Software" for version 5 and later, else "Trouble Opening
// Figure".
Result<Figure> ReadFigure(const std::string& path);
Result<Figure> ParseFigure(std::string contents, const std::string& path);
// Writes the figure; paths below the figure's folder are written relative.
SaveStatus WriteFigure(const Figure& figure, const std::string& path,
                       std::string* detail = nullptr);

}  // namespace zentrope
