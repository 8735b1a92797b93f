// Playing a finished movie: the user's player is started and left running;
// nothing waits for it. The player is $ZENTROPE_PLAYER, else the first of
// ffplay, mpv and xdg-open found on the PATH.
#pragma once

#include <string>

#include "render/render_settings.h"

namespace zentrope {

// Starts the player on the file (project names resolved). False, with why,
// when the file does not exist, no player is found or it cannot be started.
bool play_movie(const std::string& fileName, std::string* error = nullptr);
// As a render's finishing step offers it: only an AVI render is played.
bool play_movie(const std::string& fileName, RenderFormat format, std::string* error = nullptr);

}  // namespace zentrope
