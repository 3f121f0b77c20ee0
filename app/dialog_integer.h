#pragma once

#include <QString>

namespace flowloom {

// Reads an edit's text as the panel's integers are read: only the first 31 characters
// count; blanks and tabs may stand before and after the number and nothing else may;
// an optional sign stands directly before the digits. A number beyond the int range
// saturates (and so fails any range check). Returns 1 with `value` set, or 0 with
// `value` untouched (empty text, no digits, a blank between digits, a letter after them).
int ParseDialogInteger(const QString& text, int& value);

}  // namespace flowloom
