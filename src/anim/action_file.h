// The action file (.act): the action's length, stride line and reference
// size, then one record per node: its segment path, its skeletal channel set
// (or "noskeletal"), and the paths of its muscle and spine files (or
// "nomuscle", "nospine").
#pragma once

#include <string>

#include "anim/action.h"
#include "model/text_file.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kActionVersion = 1;

// Reads an action. With a figure, only records of the figure's segments are
// kept (the figure is not bound); without one, every record is kept. Fails
// with "Requires Newer Software" for version 2 and later, otherwise
// "Trouble Opening Action".
Result<Action> ReadAction(const std::string& path, const Figure* figure = nullptr);
Result<Action> ParseAction(std::string contents, const std::string& path,
                           const Figure* figure = nullptr);
// The action's length (its third line) and stride length (the seventh
// number of its fourth line) without reading the rest; false when the file
// cannot be opened or those lines do not parse.
bool PeekActionTiming(const std::string& path, std::int16_t& length, float& strideLength);

// The names an action holds, each with its file and line: the segments of
// its records and their muscle and spine files. Names resolve against the
// action's folder. Fails when the action cannot be read.
Result<std::vector<NameReference>> ActionNames(const std::string& path);

// Writes the records in the figure's depth-first order (or the action's own
// order without a figure); paths relative to the action's folder.
SaveStatus WriteAction(const Action& action, const std::string& path,
                       const Figure* figure = nullptr, std::string* detail = nullptr);

}  // namespace zentrope
