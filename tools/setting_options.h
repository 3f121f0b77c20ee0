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

}  // namespace flowloom
