#include "app/dialog_template.h"

#include <charconv>
#include <cstddef>

namespace flowloom {

namespace {

struct KindName {
    const char* name;
    ControlKind kind;
};

constexpr KindName kKindNames[] = {
    {"frame", ControlKind::kFrame},         {"button", ControlKind::kPushButton},
    {"cancel", ControlKind::kCancelButton}, {"default", ControlKind::kDefaultButton},
    {"radio", ControlKind::kRadioButton},   {"check", ControlKind::kCheckBox},
    {"edit", ControlKind::kEdit},           {"groupbox", ControlKind::kGroupBox},
    {"label", ControlKind::kLabel},         {"icon", ControlKind::kIcon},
};

// Splits a line into blank-separated words; a word that begins with a double quote runs
// to the next double quote and is kept without the quotes. 0 for an unclosed quote.
int SplitWords(const std::string& line, std::vector<std::string>& words, std::vector<bool>& quoted) {
    words.clear();
    quoted.clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '"') {
            const size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return 0;
            words.push_back(line.substr(i + 1, end - i - 1));
            quoted.push_back(true);
            i = end + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
            words.push_back(line.substr(i, end - i));
            quoted.push_back(false);
            i = end;
        }
    }
    return 1;
}

int ParseInt(const std::string& word, int& value) {
    const char* first = word.data();
    const char* last = first + word.size();
    auto [end, ec] = std::from_chars(first, last, value);
    return (ec == std::errc() && end == last && !word.empty()) ? 1 : 0;
}

// Feeds every line that is neither blank nor a comment to `fn(line_number, words, quoted)`;
// stops at the first line `fn` refuses (returning 0) and reports it in `error`.
template <class LineFn>
int ForEachLine(const std::string& text, std::string& error, LineFn&& fn) {
    std::vector<std::string> words;
    std::vector<bool> quoted;
    size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        if (!SplitWords(line, words, quoted) || !fn(words, quoted)) {
            error = "line " + std::to_string(number) + ": " + line;
            return 0;
        }
    }
    return 1;
}

}  // namespace

const DialogControl* DialogTemplate::Find(int control_id) const {
    if (control_id == -1) return nullptr;
    for (const DialogControl& control : controls)
        if (control.id == control_id) return &control;
    return nullptr;
}

std::vector<int> DialogTemplate::RadioGroup(int first_id) const {
    std::vector<int> ids;
    size_t i = 0;
    while (i < controls.size() && !(controls[i].id == first_id && first_id != -1)) ++i;
    if (i == controls.size() || controls[i].kind != ControlKind::kRadioButton) return ids;
    ids.push_back(first_id);
    for (++i; i < controls.size() && !controls[i].group_start; ++i)
        if (controls[i].kind == ControlKind::kRadioButton) ids.push_back(controls[i].id);
    return ids;
}

int ParseDialogTemplate(const std::string& text, DialogTemplate& out, std::string& error) {
    DialogTemplate parsed;
    bool have_header = false;
    const int ok = ForEachLine(text, error, [&](const std::vector<std::string>& w, const std::vector<bool>& q) {
        if (!have_header) {
            if (w.size() != 5 || w[0] != "dialog" || !q[4]) return 0;
            if (!ParseInt(w[1], parsed.id) || !ParseInt(w[2], parsed.width) || !ParseInt(w[3], parsed.height)) return 0;
            if (parsed.width <= 0 || parsed.height <= 0) return 0;
            parsed.title = w[4];
            have_header = true;
            return 1;
        }
        if (w.size() != 8 || !q[7] || (w[6] != "group" && w[6] != "-")) return 0;
        DialogControl control;
        if (!ParseInt(w[0], control.id) || !ParseInt(w[2], control.x) || !ParseInt(w[3], control.y) ||
            !ParseInt(w[4], control.width) || !ParseInt(w[5], control.height))
            return 0;
        if (control.x < 0 || control.y < 0 || control.width < 0 || control.height < 0) return 0;
        bool known = false;
        for (const KindName& k : kKindNames) {
            if (w[1] == k.name) {
                control.kind = k.kind;
                known = true;
            }
        }
        if (!known) return 0;
        // Two controls with one id would make every lookup ambiguous.
        if (control.id != -1 && parsed.Find(control.id)) return 0;
        control.group_start = w[6] == "group";
        control.text = w[7];
        parsed.controls.push_back(control);
        return 1;
    });
    if (!ok) return 0;
    if (!have_header) {
        error = "no dialog line";
        return 0;
    }
    out = std::move(parsed);
    return 1;
}

int ParseStringTable(const std::string& text, std::map<int, std::string>& out, std::string& error) {
    std::map<int, std::string> parsed;
    const int ok = ForEachLine(text, error, [&](const std::vector<std::string>& w, const std::vector<bool>& q) {
        int id = 0;
        if (w.size() != 2 || q[0] || !q[1] || !ParseInt(w[0], id)) return 0;
        parsed[id] = w[1];
        return 1;
    });
    if (!ok) return 0;
    out = std::move(parsed);
    return 1;
}

int DialogUnitsToPixelsX(int units) {
    return (units * 3 + 1) / 2;
}

int DialogUnitsToPixelsY(int units) {
    return (units * 13 + 4) / 8;
}

PixelRect ControlPixelRect(const DialogControl& c) {
    return {DialogUnitsToPixelsX(c.x), DialogUnitsToPixelsY(c.y), DialogUnitsToPixelsX(c.x + c.width),
            DialogUnitsToPixelsY(c.y + c.height)};
}

}  // namespace flowloom
