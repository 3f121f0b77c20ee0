#include "engine/settings_record.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/settings_table.h"

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
    for (const SettingRow& row : SettingsTable())
        if (row.record) r.*row.record = static_cast<int>(row.initial);
    // The engine starts with its playback rate at 1; only the window's control starts at 8.
    r.anim_fps = 1;
    SetRecordPath(r.field_file, DefaultPath({"Document", "AppInput", "ESS_FlowData", "LoopFlow02.vec"}).c_str());
    SetRecordPath(r.image_file, DefaultPath({"Document", "AppInput", "Monkey.rgb"}).c_str());
    // A fresh engine has computed nothing, so everything is new to it.
    r.size_changed = 1;
    r.field_changed = 1;
    r.noise_changed = 1;
    r.kernel_changed = 1;
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
