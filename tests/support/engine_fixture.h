#pragma once

#include <vector>

#include "engine/commands.h"
#include "engine/lic_engine.h"
#include "support/test_support.h"

namespace flowloom::test {

// An engine with a recording host and the window's settings record, driven the way the
// window drives it.
struct EngineFixture {
    RecordingHost host;
    LicEngine engine{&host};
    SettingsRecord mirror = DefaultSettings();

    explicit EngineFixture(int width = 300, int height = 300) {
        engine.Reset();
        mirror.x_res = width;
        mirror.y_res = height;
    }
    // One computation: hand over, compute, take back; the change flags are then spent.
    void Compute() {
        engine.ImportSettings(mirror);
        engine.Compute();
        engine.ExportSettings(mirror);
        mirror.size_changed = mirror.field_changed = mirror.noise_changed = mirror.kernel_changed = 0;
    }
    // A command button: its forced settings, then the computation.
    void Run(int command) {
        ForceCommandSettings(command, mirror);
        Compute();
    }
    std::vector<unsigned char> Lic() const {
        return {engine.lic_image.get(), engine.lic_image.get() + engine.x_res * engine.y_res};
    }
    std::vector<unsigned char> Rgb() const {
        return {engine.rgb_image.get(), engine.rgb_image.get() + 3 * engine.x_res * engine.y_res};
    }
};

}  // namespace flowloom::test
