#pragma once

#include "engine/settings_record.h"

namespace flowloom {

// The computing commands of the window, by the code kept in `last_command`.
enum Command {
    kCommandNone = -1,
    kCommandMagLic = 0,
    kCommandEnhance = 1,
    kCommandLic = 2,
    kCommandProLic = 3,
    kCommandAnimation = 4,
    kCommandLicing = 5,
};

// Forces into `record` the settings that a command implies and sets its mode flag (the
// other mode flags are cleared). A forced texture or kernel that differs from the one in
// the record also sets noise_changed or kernel_changed, so that the engine rebuilds it.
// The window and the command-line renderer both go through here.
void ForceCommandSettings(int command, SettingsRecord& record);

}  // namespace flowloom
