#include "engine/output_scale.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "lic/parallel_rows.h"

namespace flowloom {

namespace {

// Where one output index along an axis reads: its two source samples, the weight of the
// second, and the sample whose cell holds it.
struct Tap {
    int first;
    int second;
    double t;
    int own;
};

std::vector<Tap> Taps(int size, int scale, bool periodic) {
    std::vector<Tap> taps(static_cast<std::size_t>(size) * scale);
    for (std::size_t j = 0; j < taps.size(); ++j) {
        const double p = (static_cast<double>(j) + 0.5) / scale - 0.5;
        const double f = std::floor(p);
        int a = static_cast<int>(f);
        int b = a + 1;
        if (periodic) {
            if (a < 0) a += size;
            if (b >= size) b -= size;
        } else {
            a = a < 0 ? 0 : a;
            b = b >= size ? size - 1 : b;
        }
        taps[j] = Tap{a, b, p - f, static_cast<int>(j / static_cast<std::size_t>(scale))};
    }
    return taps;
}

}  // namespace

long long AvailableMemoryBytes() {
    if (std::FILE* info = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        long long kib = -1;
        while (std::fgets(line, sizeof line, info))
            if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) break;
        std::fclose(info);
        if (kib >= 0) return kib * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? static_cast<long long>(pages) * page : 0;
}

int CheckOutputScale(int width, int height, int scale, std::string& error) {
    char text[256];
    if (scale < 1 || scale > kMaxOutputScale) {
        std::snprintf(text, sizeof text, "the output scale %d is out of range 1..%d", scale, kMaxOutputScale);
        error = text;
        return 0;
    }
    const long long out_width = static_cast<long long>(width) * scale;
    const long long out_height = static_cast<long long>(height) * scale;
    if (width < 1 || height < 1 || out_width > kMaxOutputSide || out_height > kMaxOutputSide) {
        std::snprintf(text, sizeof text,
                      "the %d x %d field at scale %d would be a %lld x %lld picture; each side may have at most %d",
                      width, height, scale, out_width, out_height, kMaxOutputSide);
        error = text;
        return 0;
    }
    const long long needed = out_width * out_height * kOutputBytesPerPixel;
    const long long available = AvailableMemoryBytes();
    if (available > 0 && needed > available) {
        std::snprintf(text, sizeof text,
                      "the %lld x %lld picture of scale %d needs about %lld MiB, and only %lld MiB are available",
                      out_width, out_height, scale, needed >> 20, available >> 20);
        error = text;
        return 0;
    }
    return 1;
}

namespace {

// A direction without sign, given the one fixed sign: x positive, or y positive on x = 0.
// Blending starts from it, so that the result never depends on the signs of the input.
void CanonicalSign(double& x, double& y) {
    if (x < 0.0 || (x == 0.0 && y < 0.0)) {
        x = -x;
        y = -y;
    }
}

}  // namespace

int UpsampleField(const float* vectors, const unsigned char* mask, const float* magnitudes, int width, int height,
                  int scale, bool periodic_x, bool orientation, MallocBuffer<float>& out_vectors,
                  MallocBuffer<unsigned char>& out_mask, MallocBuffer<float>& out_magnitudes, const float* scalar,
                  MallocBuffer<float>* out_scalar) {
    MallocBuffer<float> unused;
    MallocBuffer<float>& fine_scalar = out_scalar ? *out_scalar : unused;
    if (!out_scalar) scalar = nullptr;
    const auto release = [&] {
        out_vectors.Release();
        out_mask.Release();
        out_magnitudes.Release();
        fine_scalar.Release();
    };
    release();
    if (!vectors || scale < 1 || width < 1 || height < 1) return 0;
    const int out_width = width * scale;
    const int out_height = height * scale;
    const std::size_t samples = static_cast<std::size_t>(out_width) * static_cast<std::size_t>(out_height);
    if (!out_vectors.Allocate(2 * samples) || (mask && !out_mask.Allocate(samples)) ||
        (magnitudes && !out_magnitudes.Allocate(samples)) || (scalar && !fine_scalar.Allocate(samples))) {
        release();
        return 0;
    }
    // The colour values beside the vectors: each blends its own finite neighbours.
    const float* values[2] = {magnitudes, scalar};
    float* fine_values[2] = {out_magnitudes.get(), fine_scalar.get()};
    const std::vector<Tap> columns = Taps(width, scale, periodic_x);
    const std::vector<Tap> rows = Taps(height, scale, false);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<unsigned char> row_masked(static_cast<std::size_t>(out_height), 0);

    ForEachRow(out_height, [&](int i) {
        const Tap& ty = rows[static_cast<std::size_t>(i)];
        const std::size_t source_rows[2] = {static_cast<std::size_t>(ty.first) * width,
                                            static_cast<std::size_t>(ty.second) * width};
        const double wy[2] = {1.0 - ty.t, ty.t};
        const std::size_t out_row = static_cast<std::size_t>(i) * out_width;
        for (int j = 0; j < out_width; ++j) {
            const Tap& tx = columns[static_cast<std::size_t>(j)];
            const std::size_t own = static_cast<std::size_t>(ty.own) * width + tx.own;
            const std::size_t o = out_row + j;
            if (mask && mask[own]) {
                out_vectors[2 * o] = out_vectors[2 * o + 1] = 0.0f;
                out_mask[o] = 1;
                for (float* fine : fine_values)
                    if (fine) fine[o] = static_cast<float>(nan);
                row_masked[static_cast<std::size_t>(i)] = 1;
                continue;
            }
            if (mask) out_mask[o] = 0;
            const int source_columns[2] = {tx.first, tx.second};
            const double wx[2] = {1.0 - tx.t, tx.t};
            double ox = vectors[2 * own], oy = vectors[2 * own + 1];
            if (orientation) CanonicalSign(ox, oy);
            double sx = 0.0, sy = 0.0, sw = 0.0, sm[2] = {0.0, 0.0}, smw[2] = {0.0, 0.0};
            for (int a = 0; a < 2; ++a) {
                for (int b = 0; b < 2; ++b) {
                    const std::size_t k = source_rows[a] + static_cast<std::size_t>(source_columns[b]);
                    const double w = wy[a] * wx[b];
                    if (w == 0.0 || (mask && mask[k])) continue;
                    double vx = vectors[2 * k], vy = vectors[2 * k + 1];
                    if (orientation) {
                        const double dot = vx * ox + vy * oy;
                        if (dot < 0.0) {
                            vx = -vx;
                            vy = -vy;
                        } else if (dot == 0.0) {
                            CanonicalSign(vx, vy);
                        }
                    }
                    sx += w * vx;
                    sy += w * vy;
                    sw += w;
                    for (int c = 0; c < 2; ++c) {
                        if (values[c] && !std::isnan(values[c][k])) {
                            sm[c] += w * values[c][k];
                            smw[c] += w;
                        }
                    }
                }
            }
            // The pixel's own sample is unmasked and weighs at least a quarter, so sw > 0.
            out_vectors[2 * o] = static_cast<float>(sx / sw);
            out_vectors[2 * o + 1] = static_cast<float>(sy / sw);
            for (int c = 0; c < 2; ++c)
                if (fine_values[c]) fine_values[c][o] = static_cast<float>(smw[c] > 0.0 ? sm[c] / smw[c] : nan);
        }
    });
    bool any = false;
    for (unsigned char m : row_masked) any = any || m;
    if (!any) out_mask.Release();
    return 1;
}

}  // namespace flowloom
