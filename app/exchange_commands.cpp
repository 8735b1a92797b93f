// Exchange subcommands: exporting posed geometry for other programs, importing
// DXF drawings as segments, and playing movies.
#include <CLI/CLI.hpp>

#include "commands.h"

namespace zentrope::cli {

void RegisterExchangeCommands(CLI::App&, Runner&) {}

}  // namespace zentrope::cli
