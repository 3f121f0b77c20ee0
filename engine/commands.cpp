#include "engine/commands.h"

namespace flowloom {

namespace {

void ForceWhiteNoise(SettingsRecord& r) {
    if (r.noise_type != 0) r.noise_changed = 1;
    r.noise_type = 0;
}

}  // namespace

void ForceCommandSettings(int command, SettingsRecord& r) {
    r.mag_lic = r.enhanced_lic = r.image_lic = r.pro_lic = r.animation = 0;
    switch (command) {
        case kCommandMagLic:
            r.high_pass = 0;
            r.equalization = 0;
            if (r.kernel_type != 0) r.kernel_changed = 1;
            r.kernel_type = 0;
            ForceWhiteNoise(r);
            r.mag_lic = 1;
            break;
        case kCommandEnhance:
            r.high_pass = 1;
            r.enhanced_lic = 1;
            break;
        case kCommandProLic:
            r.equalization = 0;
            r.high_pass = 0;
            ForceWhiteNoise(r);
            r.pro_lic = 1;
            break;
        case kCommandLicing:
            if (r.field_type == 4) r.field_type = 0;
            r.image_lic = 1;
            break;
        case kCommandAnimation:
            // The kernel tables must match the kernel the panel shows afterwards.
            if (r.kernel_type != 2 || r.kernel_length != 30) r.kernel_changed = 1;
            r.kernel_type = 2;
            r.kernel_length = 30;
            ForceWhiteNoise(r);
            r.animation = 1;
            break;
        default:
            break;
    }
}

}  // namespace flowloom
