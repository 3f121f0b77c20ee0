#pragma once

#include <string>

namespace flowloom {

// Contrast of a grey picture (one byte per sample) before it is coloured. The window's
// equalisation curve is a separate, fixed step of the pipeline and stays as it is.
enum class GreyContrastKind : unsigned char { kNone, kStretch, kClahe };

struct GreyContrast {
    GreyContrastKind kind = GreyContrastKind::kNone;
    double low_percent = 1.0;  // stretch: the grey levels at these percentiles become 0 and 255
    double high_percent = 99.0;
    int tiles = 8;       // CLAHE: contextual regions across and down
    double clip = 0.01;  // CLAHE: clip limit, a share of a region's samples (0 or >= 1: none)
};

// Refuses (false, a message): percentiles outside 0..100 or not rising; a tile count below
// 1; a clip limit below 0 or not finite.
bool ValidateGreyContrast(const GreyContrast& contrast, std::string& error);

// Percentile stretch in place: the levels lo and hi at the two percentiles (numpy's linear
// rule) go to 0 and 255, each level truncate(255 (g - lo) / (hi - lo)) clamped, as
// skimage.exposure.rescale_intensity(grey, in_range=(lo, hi)) gives it. A picture with
// lo = hi stays as it is.
void StretchGrey(int width, int height, unsigned char* grey, double low_percent, double high_percent);

// Contrast-limited adaptive histogram equalisation in place, the algorithm of
// skimage.exposure.equalize_adapthist(grey, kernel_size=(max(height / tiles, 1),
// max(width / tiles, 1)), clip_limit=clip, nbins=256) step for step (14-bit levels, 256 bins,
// the same clipping and redistribution, reflected borders, bilinear blending in single
// precision, the final stretch onto 0..1), whose result times 255 is rounded to the byte.
// So each byte lies within half a level of 255 times skimage's value. A flat picture stays
// as it is. False, with nothing changed, when memory runs short.
bool ClaheGrey(int width, int height, unsigned char* grey, int tiles, double clip);

// The contrast step asked for; false, with nothing changed, when it is refused or memory
// runs short (the reason in `error` when not null).
bool ApplyGreyContrast(const GreyContrast& contrast, int width, int height, unsigned char* grey,
                       std::string* error = nullptr);

}  // namespace flowloom
