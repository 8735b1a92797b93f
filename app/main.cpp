// zentrope: the command-line front of Zentrope Studio. It assembles the
// command groups, parses the arguments, starts the services and runs the
// chosen subcommand. Exit status: 0 success, 1 a document or the machine
// failed, 2 the command line was wrong.
#include <clocale>
#include <exception>
#include <iostream>
#include <new>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "io/exchange_formats.h"
#include "render/render_errors.h"
#include "render/render_settings.h"
#include "shell/error_log.h"
#include "shell/memory_pool.h"
#include "shell/startup.h"
#include "shell/string_table.h"
#include "shell/version.h"

namespace {

constexpr int kUsageError = 2;

// Runs start-up and the command. Running out of the memory limit ends the
// command with 107 and its error-log line; nothing escapes as an abort.
void ReportOutOfMemory() {
  // The same log line as a render that runs out (the settings file named as
  // this system names it).
  zentrope::log_line(zentrope::RenderErrorLogText(zentrope::render_error::kMemory));
  const std::int64_t limit = zentrope::MemoryPool::Main().limit();
  zentrope::message_box(zentrope::LoadString(zentrope::str::kIncreasePrefsMemory) +
                        " (the memory limit, MEMORY MaxMemory, is " + std::to_string(limit / 1024) +
                        " kilobytes)");
}

int RunGuarded(const std::function<int()>& work) {
  try {
    const int status = work();
    // A reader that ran out reports its document as unreadable, and a
    // command that carried on without what it could not load did less than
    // asked: either way the remedy is the memory limit, and it failed.
    if (zentrope::MemoryPool::Main().refused_allocations() > 0) {
      if (!zentrope::cli::MemoryReported()) {
        ReportOutOfMemory();
      }
      return 1;
    }
    return status;
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory();
  } catch (const std::exception& e) {
    zentrope::message_box(std::string("internal error: ") + e.what());
  } catch (...) {
    zentrope::message_box("internal error");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Documents are written and read with "C" number formats on every machine.
  std::setlocale(LC_ALL, "C");

  CLI::App app{std::string(zentrope::kProductName) +
               ": spline-patch modelling, character animation and rendering"};
  app.name("zentrope");
  app.set_version_flag("--version", std::string("zentrope ") + std::string(zentrope::Version()));
  app.require_subcommand(0, 1);

  zentrope::StartUpOptions startup;
  std::string settingsFile;
  app.add_option("--settings", settingsFile, "Settings file to use instead of zentrope.ini");
  app.add_flag("--quiet", startup.quiet, "No status line on long work");

  zentrope::cli::Runner chosen;
  zentrope::cli::RegisterDocumentCommands(app, chosen);
  zentrope::cli::RegisterChoreographyCommands(app, chosen);
  zentrope::cli::RegisterSettingsCommands(app, chosen);
  zentrope::cli::RegisterRenderCommands(app, chosen);
  zentrope::cli::RegisterExchangeCommands(app, chosen);
  zentrope::cli::FramedRunner framed;
  zentrope::cli::RegisterViewCommands(app, framed);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    std::cerr << "zentrope: " << e.what() << " (see zentrope --help)\n";
    return kUsageError;
  }
  if (!settingsFile.empty()) {
    startup.settingsFile = settingsFile;
  }
  if (framed) {
    return RunGuarded([&] {
      zentrope::RegisterRenderSettingsStartUp();
      zentrope::RegisterExchangeFormats();
      return framed(startup);
    });
  }
  if (!chosen) {
    std::cout << app.help();
    return 0;
  }
  return RunGuarded([&] {
    zentrope::RegisterRenderSettingsStartUp();
    zentrope::RegisterExchangeFormats();
    if (!zentrope::StartUp(startup)) {
      return 1;
    }
    return chosen();
  });
}
