#pragma once

#include <cstdint>

namespace flowloom {

inline constexpr int kPathCapacity = 200;  // bytes, terminating zero included

// The settings that the window and the engine share, exchanged as one record: the
// window fills its copy from the controls and the change flags, the engine takes the
// whole record and gives back the values it may have changed.
struct SettingsRecord {
    int32_t x_res;
    int32_t y_res;
    int32_t field_type;  // 0 Saddle, 1 Spiralling, 2 Vortex, 3 Repelling, 4 file
    char field_file[kPathCapacity];
    int32_t size_changed;
    int32_t field_changed;
    int32_t noise_type;  // 0 white, 1 sparse
    int32_t noise_changed;
    int32_t kernel_type;  // 0 box, 1 ramp, 2 Hanning
    int32_t kernel_length;
    int32_t kernel_changed;
    int32_t color_mapping;
    int32_t equalization;
    int32_t high_pass;
    int32_t mag_lic;
    int32_t enhanced_lic;
    int32_t enhance_iterations;
    int32_t roi_enabled;
    int32_t roi_left;
    int32_t roi_right;
    int32_t roi_top;
    int32_t roi_bottom;
    int32_t roi_scale;
    int32_t image_lic;
    int32_t image_iterations;
    int32_t force_extraction;
    char image_file[kPathCapacity];
    int32_t pro_lic;
    int32_t lod;
    int32_t animation;
    int32_t anim_frames;
    int32_t anim_fps;
};

static_assert(sizeof(SettingsRecord) == 30 * 4 + 2 * kPathCapacity, "30 ints and two paths");

// The record as the engine holds it after a reset.
SettingsRecord DefaultSettings();

// Copies a path into a record slot. A path that does not fit (200 bytes or more) is
// refused: the slot keeps its old content and the result is 0. Never truncates, since a
// shortened path would silently name another file.
int SetRecordPath(char (&slot)[kPathCapacity], const char* path);

}  // namespace flowloom
