#include "app/caption.h"

namespace flowloom {

namespace {

#define FLOWLOOM_BANNER "Flowloom - Line Integral Convolution of 2D Vector Fields"

// clang-format off
constexpr const char* kCaptions[kCaptionVariants] = {
    FLOWLOOM_BANNER " | GSI | T->B | L->R",
    FLOWLOOM_BANNER " | GSI | T->B | R->L",
    FLOWLOOM_BANNER " | GSI | B->T | L->R",
    FLOWLOOM_BANNER " | GSI | B->T | R->L",
    FLOWLOOM_BANNER " | CMM | T->B | L->R",
    FLOWLOOM_BANNER " | CMM | T->B | R->L",
    FLOWLOOM_BANNER " | CMM | B->T | L->R",
    FLOWLOOM_BANNER " | CMM | B->T | R->L",
    FLOWLOOM_BANNER " | CWD | T->B | L->R",
    FLOWLOOM_BANNER " | CWD | T->B | R->L",
    FLOWLOOM_BANNER " | CWD | B->T | L->R",
    FLOWLOOM_BANNER " | CWD | B->T | R->L",
};
// clang-format on

#undef FLOWLOOM_BANNER

int Bit(int flag) {
    return flag != 0 ? 1 : 0;
}

}  // namespace

const char* CaptionText(int index) {
    return (index >= 0 && index < kCaptionVariants) ? kCaptions[index] : kCaptions[0];
}

int CaptionIndex(int color_mapping, int color_by_data, int flip_rows, int flip_columns) {
    return Bit(flip_columns) + 2 * Bit(flip_rows) + 4 * Bit(color_mapping) * (Bit(color_by_data) + 1);
}

}  // namespace flowloom
