// The older skeletal (.ske, tag "ACTI") and morph (.mor, tag "MORP") files,
// versions 1 to 6, read into today's actions: channel sets of versions 1 to
// 5 keyed Latitude, Roll and Longitude as angles and are converted to
// direction keys.
#pragma once

#include <string>

#include "anim/action.h"
#include "shell/result.h"

namespace zentrope {

// Converts an angle-keyed skeletal channel set (0–5 as today, 6 Latitude,
// 7 Roll, 8 Longitude) into a kind 16 set.
std::unique_ptr<ChannelSet> ConvertAngleChannels(ChannelSet& old);

Result<Action> ReadLegacyAction(const std::string& path, const Figure& figure);
Result<Action> ParseLegacyAction(std::string contents, const std::string& path,
                                 const Figure& figure);

}  // namespace zentrope
