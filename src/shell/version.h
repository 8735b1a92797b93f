// The program's name and version, as the command line and the title bar show
// them.
#pragma once

#include <string_view>

namespace zentrope {

inline constexpr std::string_view kProductName = "Zentrope Studio";

// The release version, "major.minor.patch".
std::string_view Version();

}  // namespace zentrope
