// The channel set record inside action, choreography and material files: key
// lists, named key lists and whole chains of channel sets. Versions 0 to 2
// are read, version 2 written.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "anim/channel_set.h"
#include "model/text_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kChannelSetVersion = 2;

// Finds the object a channel set refers to by name; null when none.
using ReferenceLookup = std::function<const void*(const std::string& name)>;

// Reads a key list into channel (which must be empty), scaling each x by
// frameScale and each y by valueScale, then computes the tangents.
bool ReadKeyList(TextReader& reader, ChannelSet& set, Channel& channel, float frameScale = 1.0f,
                 float valueScale = 1.0f);
// The same into a list held by any arena (paths); first must be null.
bool ReadKeyList(TextReader& reader, PointArena& arena, ControlPoint*& first,
                 float frameScale = 1.0f, float valueScale = 1.0f);
void WriteKeyList(TextWriter& writer, const ControlPoint* first);

// A name line followed by a key list; the keys go into a fresh list held by
// set's arena.
bool ReadNamedKeyList(TextReader& reader, ChannelSet& set, std::string& name, Channel& channel);
void WriteNamedKeyList(TextWriter& writer, const std::string& name, const ControlPoint* first);

// Reads a chain of channel sets. Fails with "Requires Newer Software" for a
// version of 3 or more (see IsNewerSoftware) and with "Trouble Opening
// Channel" otherwise. Every set gets the default table of its kind; an owner
// with a table of its own replaces the first set's.
Result<std::unique_ptr<ChannelSet>> ReadChannelSet(TextReader& reader,
                                                   const ReferenceLookup& lookup = nullptr);
void WriteChannelSet(TextWriter& writer, const ChannelSet& set);

// True when a read failed on a record newer than this program, which the
// document reporting it shows as "Requires Newer Software" rather than as
// its own trouble message.
bool IsNewerSoftware(const Failure& failure);

}  // namespace zentrope
