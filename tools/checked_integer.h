#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace flowloom {

// Every integer the command-line tools take is read here: all of `text`, an optional sign
// and decimal digits, within min..max. A number too long for 64 bits fails like one out of
// range, rather than wrapping around into it.
bool ParseCheckedInteger(const std::string& text, int64_t min, int64_t max, int64_t& value);

// The check that every integer option takes: its text must be a whole integer in min..max.
// CLI11 runs it before converting the text, so no value is ever wrapped into the range.
CLI::Validator CheckedInteger(int64_t min, int64_t max);

}  // namespace flowloom
