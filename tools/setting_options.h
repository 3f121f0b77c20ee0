#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>

namespace flowloom {

// Command-line options made from rows of the settings table: the option's name, help and
// range (or names) come from its row, so the tools, the window and Python agree.
template <class Integer>
CLI::Option* AddSetting(CLI::App& app, std::string_view name, Integer& value);
CLI::Option* AddChoice(CLI::App& app, std::string_view name, std::string& value);
CLI::Option* AddFlag(CLI::App& app, std::string_view name, int& value);
// A text setting (a variable's name), or a real or list setting kept as its text for
// ParseSettingValues after parsing.
CLI::Option* AddText(CLI::App& app, std::string_view name, std::string& value);

// Parses the command line of `program`. -1 to go on; else the status to end with at once:
// 0 after --help or --version, 2 after a wrong option (its message on stderr).
int ParseCommandLine(CLI::App& app, int argc, char** argv, const char* program);

}  // namespace flowloom
