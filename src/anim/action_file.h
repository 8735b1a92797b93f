// The action file (.act): the action's length, stride line and reference
// size, then one record per node: its segment path, its skeletal channel set
// (or "noskeletal"), and the paths of its muscle and spine files (or
// "nomuscle", "nospine").
#pragma once

#include <string>
#include <string_view>

#include "anim/action.h"
#include "model/text_file.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kActionVersion = 1;

// Reads any action file: an action (.act) or one of the older skeletal
// (.ske) and morph (.mor, or tag "MORP") files, told apart by extension in
// any case. With a figure, records are read against it (spine files find
// their segments, the oldest files' records take its nodes' names) and
// records of segments it lacks are dropped unless keepOtherSegments;
// without one, every record is kept. Fails with "Requires Newer Software"
// for a newer file or channel set, otherwise "Trouble Opening Action".
Result<Action> ReadAction(const std::string& path, const Figure* figure = nullptr,
                          bool keepOtherSegments = false);
Result<Action> ParseAction(std::string contents, const std::string& path,
                           const Figure* figure = nullptr, bool keepOtherSegments = false);
// True for the tags an action file may carry: "ACTI" (actions and older
// skeletal files) and "MORP" (older morph files).
inline bool IsActionTag(std::string_view tag) {
  return tag == "ACTI" || tag == "MORP";
}
// True for the names of the older skeletal and morph files.
bool IsOlderActionName(const std::string& path);
// The action's length and stride length without reading the rest: the
// third line and the seventh number of the fourth line of an action file,
// or the length and the stride line an older file of that version has (0
// without one). False when the file cannot be opened or those lines do not
// parse.
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
