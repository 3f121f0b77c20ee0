#include "engine/settings_record.h"

#include <cstring>
#include <filesystem>
#include <string>

namespace flowloom {

namespace {

// The default input locations, written with this platform's separator.
std::string DefaultPath(std::initializer_list<const char*> parts) {
    std::filesystem::path path("C:");
    for (const char* part : parts) path /= part;
    return path.string();
}

}  // namespace

SettingsRecord DefaultSettings() {
    SettingsRecord r{};
    r.x_res = 300;
    r.y_res = 300;
    r.field_type = 0;
    SetRecordPath(r.field_file, DefaultPath({"Document", "AppInput", "ESS_FlowData", "LoopFlow02.vec"}).c_str());
    r.size_changed = 1;
    r.field_changed = 1;
    r.noise_type = 0;
    r.noise_changed = 1;
    r.kernel_type = 0;
    r.kernel_length = 15;
    r.kernel_changed = 1;
    r.color_mapping = 1;
    r.equalization = 0;
    r.high_pass = 0;
    r.mag_lic = 0;
    r.enhanced_lic = 0;
    r.enhance_iterations = 2;
    r.roi_enabled = 0;
    r.roi_left = 0;
    r.roi_right = 299;
    r.roi_top = 0;
    r.roi_bottom = 299;
    r.roi_scale = 2;
    r.image_lic = 0;
    r.image_iterations = 1;
    r.force_extraction = 1;
    SetRecordPath(r.image_file, DefaultPath({"Document", "AppInput", "Monkey.rgb"}).c_str());
    r.pro_lic = 0;
    r.lod = 3;
    r.animation = 0;
    r.anim_frames = 8;
    r.anim_fps = 1;
    return r;
}

int SetRecordPath(char (&slot)[kPathCapacity], const char* path) {
    if (!path) return 0;
    const size_t length = std::strlen(path);
    if (length >= kPathCapacity) return 0;
    std::memcpy(slot, path, length + 1);
    return 1;
}

}  // namespace flowloom
