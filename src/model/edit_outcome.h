// EditOutcome: the result of an editing command, either success or the
// message the user is shown. The model is left unchanged on failure.
#pragma once

#include <string_view>

namespace zentrope {

struct EditOutcome {
  std::string_view message;  // empty on success
  bool Ok() const { return message.empty(); }
  static EditOutcome Success() { return {}; }
  static EditOutcome Failure(std::string_view text) { return {text}; }
};

namespace messages {
inline constexpr std::string_view kCantBreakHere = "Can't Break Here";
inline constexpr std::string_view kNoControlPointSelected = "No Control Point Selected";
inline constexpr std::string_view kNoneSelected = "None Selected";
inline constexpr std::string_view kNoGroupName = "No Group Name";
inline constexpr std::string_view kGroupNameExists = "Group Name Already Exists.";
inline constexpr std::string_view kNothingGrouped = "Nothing Grouped";
inline constexpr std::string_view kSkinWillBeRemoved = "Skin Will Be Removed!";
// Not a failure of the command: the user declined.
inline constexpr std::string_view kCancelled = "Cancelled";
}  // namespace messages

}  // namespace zentrope
