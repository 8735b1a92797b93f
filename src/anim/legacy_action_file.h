// The older skeletal (.ske, tag "ACTI") and morph (.mor, tag "MORP") files,
// versions 1 to 6, read into today's actions: channel sets of versions 1 to
// 5 keyed Latitude, Roll and Longitude as angles and are converted to
// direction keys. Callers open them through ReadAction, which tells them
// from action files.
#pragma once

#include <string>

#include "anim/action.h"
#include "model/text_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kLegacyActionVersion = 6;

// Converts an angle-keyed skeletal channel set (0–5 as today, 6 Latitude,
// 7 Roll, 8 Longitude) into a kind 16 set.
std::unique_ptr<ChannelSet> ConvertAngleChannels(ChannelSet& old);

// The lines before the records: header, the "%ld" line, the length, the
// stride line (version 5: seven numbers, 6: nine fields, earlier none) and
// the reference size. On failure messageId is the user's message.
bool ReadLegacyPreamble(TextReader& reader, Action& action, int& messageId);

// Versions 3 to 6 name their segments by path: with a figure, records of
// segments it lacks are dropped unless keepOtherSegments. Versions 1 and 2
// store a channel set per node in the figure's depth-first order; without a
// figure their records are kept with no segment path.
Result<Action> ParseLegacyAction(std::string contents, const std::string& path,
                                 const Figure* figure, bool keepOtherSegments = false);

}  // namespace zentrope
