// The subcommands of the zentrope program. Each parses nothing itself: it
// gets its arguments from main and calls the library, returning the exit
// status (0 success, 1 failure).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace zentrope::cli {

int Info(const std::string& file, bool json);
int Check(const std::vector<std::string>& files);
int Resave(const std::string& in, const std::string& out);
int Convert(const std::string& in, const std::string& out);
int Eval(const std::string& document, const std::string& figure, float frame, bool json,
         bool points);
int LatheCommand(const std::string& in, int sections, std::int32_t pointNumber,
                 const std::string& out);

// Choreographies.
bool ChoreographyInfo(const std::string& file, nlohmann::ordered_json& info, std::string& message);
int ChoreographyEval(const std::string& file, float frame, bool json);
int ChoreographyResave(const std::string& in, const std::string& out);
int Simulate(const std::string& in, const std::string& out);

int SettingsList();
int SettingsGet(const std::string& section, const std::string& key);
int SettingsSet(const std::string& section, const std::string& key, const std::string& value);

int ProjectAdd(const std::string& name, const std::string& directory);
int ProjectList();

}  // namespace zentrope::cli
