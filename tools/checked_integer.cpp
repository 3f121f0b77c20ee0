#include "tools/checked_integer.h"

#include <charconv>

namespace flowloom {

bool ParseCheckedInteger(const std::string& text, int64_t min, int64_t max, int64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    int64_t parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed);
    if (error != std::errc() || end != last || parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

CLI::Validator CheckedInteger(int64_t min, int64_t max) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [=](std::string& text) {
            int64_t value = 0;
            return ParseCheckedInteger(text, min, max, value) ? std::string()
                                                              : text + " is not an integer from " + range;
        },
        "INT in [" + std::to_string(min) + " - " + std::to_string(max) + "]");
}

}  // namespace flowloom
