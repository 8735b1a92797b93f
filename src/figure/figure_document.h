// A figure as a document: opening it with its segments, skins and
// attributes, saving what changed in order, and reverting.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "figure/figure.h"
#include "model/segment_file.h"
#include "model/segment_registry.h"

namespace zentrope {

// Reads the .fig file, its .ski and .att companions and every segment. A
// segment that cannot be opened leaves its node without geometry (the
// figure still opens) and is named in problems when given.
Result<Figure> OpenFigure(const std::string& path,
                          SegmentRegistry& registry = SegmentRegistry::Process(),
                          std::vector<std::string>* problems = nullptr);

// The names a figure holds, each with its file and line: its segments (.fig),
// the segments named in its skin file (.ski), and the segments, materials
// and pictures of its attribute file (.att). Names resolve against the
// figure's folder. Fails when the .fig file cannot be read.
Result<std::vector<NameReference>> FigureNames(const std::string& path);

// Saves the figure's segments, then its attribute file (flag 64), its skin
// file (flag 128; removed when no node has pairs any more), then the .fig
// file when flag 8 is set; each success clears its flag. Failures are reported as "Trouble
// Saving Attributes", "Trouble Saving Skin" and "Trouble Saving Figure".
SaveReport SaveFigure(Figure& figure);

// Reads the figure again, after asking "Character: [name] has Changed.\n
// Abandon Changes?" when it is marked changed. False when declined or when
// the file cannot be read (the figure is then unchanged).
bool RevertFigure(Figure& figure, const std::function<bool(std::string_view)>& confirm,
                  SegmentRegistry& registry = SegmentRegistry::Process());

}  // namespace zentrope
