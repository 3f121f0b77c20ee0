#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/settings_record.h"

namespace flowloom {

// Every setting that a front end takes (the window's controls, flowloom-render's options,
// the Python keywords) is described once here: its name, range, default and help. The
// window validates its edits with these ranges, the renderer builds its parser, --help and
// manual page from them, and the Python package checks its arguments against them, so a new
// setting is a row here plus its use.

enum class SettingKind {
    kInteger,  // a whole number in min..max; `count` of them, comma-separated, when above 1
    kFlag,     // 0 or 1
    kChoice,   // one of `choices`, held as its index
    kReal,     // a real number in real_min..real_max; `count` of them when above 1
    kText,     // a name (a variable, a column), free text
};

struct SettingRow {
    std::string_view name;     // the engine's and the record's name: "kernel_length"
    std::string_view option;   // flowloom-render's option, "--length"; empty when it has none
    std::string_view keyword;  // the Python keyword, "length"; empty when Python has none
    SettingKind kind = SettingKind::kInteger;
    int SettingsRecord::*record = nullptr;  // the record's field, or null for a front-end setting
    int64_t min = 0;
    int64_t max = 0;
    int64_t initial = 0;  // the default, as DefaultSettings and the window start with it
    std::span<const std::string_view> choices = {};
    std::string_view help;
    // Written back by the engine after a computation (it may change them), and so copied
    // between the engine, the window's record and the window's controls.
    bool computed = false;
    // Python's own bounds where its functions take a wider range than the window (an
    // animation of any frame count, say); equal to min..max otherwise.
    int64_t python_min = 0;
    int64_t python_max = 0;
    // Real settings: their range and default (NaN: none, the data decide).
    double real_min = 0.0;
    double real_max = 0.0;
    double real_initial = 0.0;
    int count = 1;               // values of a list setting ("2,98")
    std::string_view metavar;    // how --help names the value: "LO,HI"
};

// Every row, in the window's reading order first, then the front ends' own settings.
std::span<const SettingRow> SettingsTable();

// The row of `name`; a name that is not in the table is a programmer's mistake and
// ends the process with a message.
const SettingRow& Setting(std::string_view name);

// Copies the settings that a computation may change (the rows marked `computed`) from one
// record to another; paths, change flags and mode flags stay as they are.
void CopyComputedSettings(const SettingsRecord& from, SettingsRecord& to);

// "between 1 and 200" for a range's messages.
std::string RangeText(const SettingRow& row);

// The index of `text` among a choice row's names, or -1.
int ChoiceIndex(const SettingRow& row, std::string_view text);

// Parses a real or integer setting's text ("2,98" for a list of two) into `values`, each
// checked against the row's range. An empty result means the text is fine; otherwise it is
// the message for the user, naming the option, what it takes and an example.
std::string ParseSettingValues(const SettingRow& row, std::string_view text, std::vector<double>& values);

}  // namespace flowloom
