#include "app/dialog_integer.h"

#include <climits>

namespace flowloom {

namespace {

constexpr qsizetype kCountedCharacters = 31;

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

int ParseDialogInteger(const QString& full_text, int& value) {
    const QString text = full_text.left(kCountedCharacters);
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    const qsizetype first_digit = i;
    long long magnitude = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (text[i].unicode() - u'0');
    }
    if (i == first_digit) return 0;
    while (i < n && IsBlank(text[i])) ++i;
    if (i != n) return 0;
    if (negative)
        value = magnitude > static_cast<long long>(INT_MAX) + 1 ? INT_MIN : static_cast<int>(-magnitude);
    else
        value = magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
    return 1;
}

}  // namespace flowloom
