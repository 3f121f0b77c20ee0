// The scene several benchmarks compute on.
#pragma once

#include "engine/lic_engine.h"

namespace flowloom {

// A computed default render of size x size: Saddle field, white noise, box kernel of
// length 15.
struct Scene {
    LicEngine engine;
    explicit Scene(int size) {
        engine.Reset();
        engine.x_res = engine.y_res = size;
        engine.kernel_length = 15;
        engine.Compute();
    }
};

}  // namespace flowloom
