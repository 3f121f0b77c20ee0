// The stages of a whole render other than the convolution, at 300^2 and 2000^2 on one
// thread and on all: the analytic field, its normalisation with the magnitude data map,
// the white noise, the composition in each colour mode, the grey-level stretch and the
// picture files. BM_AroundConvolution runs them all as a default render does, so its time
// is what a render adds to the convolution. BM_UpsampleField is the stage of a picture finer
// than its field: a 256 x 128 field (the wind sample's grid) onto a grid 4 and 16 times finer.

#include <benchmark/benchmark.h>
#include <omp.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/default_scene.h"
#include "engine/fields.h"
#include "engine/filters.h"
#include "engine/lic_engine.h"
#include "engine/output_scale.h"
#include "lic/noise.h"
#include "lic/parallel_rows.h"
#include "media/bmp_writer.h"
#include "media/png_writer.h"

namespace flowloom {
namespace {

// range(0) the side, range(1) 0 for one thread, 1 for all processors.
void UseThreads(benchmark::State& state) {
    SetThreadCount(state.range(1) ? omp_get_num_procs() : 1);
    state.SetLabel(std::to_string(ThreadCount()) + " thread(s)");
}

void CountPixels(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}

std::string ScratchPath(const char* ending) {
    return "/tmp/flowloom_render_stages_bench_" + std::to_string(getpid()) + ending;
}

void BM_AnalyticField(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    for (auto _ : state) {
        MakeAnalyticField(0, e.vectors.get(), e.x_res, e.y_res);
        benchmark::DoNotOptimize(e.vectors.get());
    }
    CountPixels(state);
}

// Normalisation and the data map of the magnitudes, on a fresh Saddle field. range(2): the
// plain range (1) of an analytic field, or the decade windows (0) of a field file.
void BM_NormalizeField(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    for (auto _ : state) {
        state.PauseTiming();
        MakeAnalyticField(0, e.vectors.get(), e.x_res, e.y_res);
        state.ResumeTiming();
        e.NormalizeField(static_cast<int>(state.range(2)));
        benchmark::DoNotOptimize(e.magnitudes.get());
    }
    CountPixels(state);
}

void BM_WhiteNoise(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    for (auto _ : state) {
        MakeWhiteNoise(e.noise.get(), e.x_res, e.y_res);
        benchmark::DoNotOptimize(e.noise.get());
    }
    CountPixels(state);
}

// range(2): 0 grey, 1 by magnitude, 2 by direction, 3 by magnitude with both flips,
// 4 by a colour scalar through viridis linear over the scalar's range (found on every
// composition), 5 the same scalar through the rainbow, 6 the same scalar overlaid.
void BM_ComposeImage(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    const int mode = static_cast<int>(state.range(2));
    e.color_by_data = mode == 2;
    e.flip_rows = e.flip_columns = mode == 3;
    if (mode >= 4) {
        // A smooth scalar of its own, like a temperature under the wind.
        std::vector<float> scalar(static_cast<size_t>(e.x_res) * e.y_res);
        for (size_t i = 0; i < scalar.size(); ++i)
            scalar[i] = static_cast<float>(280.0 + 20.0 * std::sin(0.001 * static_cast<double>(i)));
        if (!e.SetColorScalar(e.x_res, e.y_res, scalar.data())) state.SkipWithError("no scalar");
        e.color_options.by = ColorBy::kScalar;
        e.color_options.cmap = mode == 5 ? ColorMapId::kRainbow : ColorMapId::kViridis;
        e.color_options.blend = mode == 6 ? BlendMode::kOverlay : BlendMode::kMultiply;
    }
    for (auto _ : state) {
        e.ComposeImage(e.lic_image.get(), e.rgb_image.get(), mode != 0);
        benchmark::DoNotOptimize(e.rgb_image.get());
    }
    CountPixels(state);
}

// The sparse-noise stretch of the grey levels through the data map.
void BM_StretchGreyLevels(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    const long samples = static_cast<long>(e.x_res) * e.y_res;
    for (auto _ : state) {
        state.PauseTiming();
        for (long i = 0; i < samples; ++i) e.lic_image[i] = static_cast<unsigned char>(i % 97);
        state.ResumeTiming();
        StretchGreyLevels(static_cast<int>(samples), e.lic_image.get());
        benchmark::DoNotOptimize(e.lic_image.get());
    }
    CountPixels(state);
}

// range(2): 0 BMP, 1 PNG.
void BM_WritePicture(benchmark::State& state) {
    UseThreads(state);
    Scene scene(static_cast<int>(state.range(0)));
    LicEngine& e = scene.engine;
    const bool png = state.range(2) != 0;
    const std::string path = ScratchPath(png ? ".png" : ".bmp");
    for (auto _ : state) {
        const int written = png ? WritePng24(e.x_res, e.y_res, e.rgb_image.get(), path.c_str())
                                : WriteBmp24(e.x_res, e.y_res, e.rgb_image.get(), path.c_str());
        if (!written) state.SkipWithError("could not write the picture");
    }
    unlink(path.c_str());
    CountPixels(state);
}

// Everything a default render to BMP does besides the convolution: a fresh field with its
// data map, fresh images, the noise, the composition and the file.
void BM_AroundConvolution(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    UseThreads(state);
    const std::string path = ScratchPath(".bmp");
    for (auto _ : state) {
        LicEngine e;
        e.Reset();
        e.x_res = e.y_res = size;
        e.size_changed = e.field_changed = 1;
        e.PrepareAnalyticField();
        e.ResizeImages();
        e.MakeNoise();
        e.ComposeImage(e.lic_image.get(), e.rgb_image.get(), 1);
        if (!WriteBmp24(e.x_res, e.y_res, e.rgb_image.get(), path.c_str()))
            state.SkipWithError("could not write the picture");
    }
    unlink(path.c_str());
    CountPixels(state);
}

void BM_UpsampleField(benchmark::State& state) {
    SetThreadCount(state.range(1) ? omp_get_num_procs() : 1);
    state.SetLabel(std::to_string(ThreadCount()) + " thread(s)");
    const int width = 256, height = 128, scale = static_cast<int>(state.range(0));
    MallocBuffer<float> vectors, lengths, fine_vectors, fine_colour;
    MallocBuffer<unsigned char> fine_mask;
    vectors.Allocate(2 * width * height);
    lengths.Allocate(width * height);
    MakeAnalyticField(2, vectors.get(), width, height);
    for (int i = 0; i < width * height; ++i) lengths[i] = std::hypot(vectors[2 * i], vectors[2 * i + 1]);
    for (auto _ : state) {
        UpsampleField(vectors.get(), nullptr, lengths.get(), width, height, scale, true, false, fine_vectors, fine_mask,
                      fine_colour);
        benchmark::DoNotOptimize(fine_vectors.get());
    }
    state.SetItemsProcessed(state.iterations() * width * height * scale * scale);
}

}  // namespace

BENCHMARK(BM_UpsampleField)
    ->ArgNames({"scale", "all_threads"})
    ->ArgsProduct({{4, 16}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalyticField)
    ->ArgNames({"size", "all_threads"})
    ->ArgsProduct({{300, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeField)
    ->ArgNames({"size", "all_threads", "plain_range"})
    ->ArgsProduct({{300, 2000}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WhiteNoise)
    ->ArgNames({"size", "all_threads"})
    ->ArgsProduct({{300, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComposeImage)
    ->ArgNames({"size", "all_threads", "mode"})
    ->ArgsProduct({{2000}, {0, 1}, {0, 1, 2, 3, 4, 5, 6}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchGreyLevels)
    ->ArgNames({"size", "all_threads"})
    ->ArgsProduct({{2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePicture)
    ->ArgNames({"size", "all_threads", "png"})
    ->ArgsProduct({{2000}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AroundConvolution)
    ->ArgNames({"size", "all_threads"})
    ->ArgsProduct({{300, 2000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace flowloom

BENCHMARK_MAIN();
