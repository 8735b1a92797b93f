#include "io/movie_player.h"

namespace zentrope {

bool play_movie(const std::string&, std::string*) {
  return false;
}
bool play_movie(const std::string&, RenderFormat, std::string*) {
  return false;
}

}  // namespace zentrope
