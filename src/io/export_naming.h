// The names of exported geometry files. A frame of a sequence is named from
// the chosen path: its extension dropped, trailing digits removed from the
// file name, the name cut so that it and the frame number ("%d") have at
// most 8 characters, the number and the format's extension appended.
#pragma once

#include <string>
#include <string_view>

namespace zentrope {

// extension: ".dxf", ".qtm", ".obj", ".rib", ".glb". "walkcycle01.dxf" at
// frame 12 → "walkcy12.dxf", in the chosen folder.
std::string ExportFileName(const std::string& chosen, int frame, std::string_view extension);

}  // namespace zentrope
