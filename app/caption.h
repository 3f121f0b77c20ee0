#pragma once

namespace flowloom {

inline constexpr int kCaptionVariants = 12;

// The window caption for an index from CaptionIndex: the banner, then the colour mode
// ("GSI" grey, "CMM" coloured by magnitude, "CWD" coloured by direction), the row order
// and the column order, separated by " | ". An index outside 0..11 gives variant 0.
const char* CaptionText(int index);

// flip_columns + 2 flip_rows + 4 color_mapping (color_by_data + 1), with every flag
// taken as 0 or 1 (any non-zero value counts as 1).
int CaptionIndex(int color_mapping, int color_by_data, int flip_rows, int flip_columns);

}  // namespace flowloom
