// The row kernels of the passes that trace streamlines, one per instruction set: each
// supplies what its pass accumulates along the shared lane stepper of
// streamline_simd-inl.h, and the choice of instruction set at run time.

#include "lic/streamline_simd.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "lic/streamline_simd.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
// Must come after foreach_target.h.
#include "hwy/aligned_allocator.h"
#include "hwy/cache_control.h"
#include "hwy/highway.h"
#include "lic/kernels.h"
#include "lic/streamline_simd-inl.h"

HWY_BEFORE_NAMESPACE();
namespace flowloom {
namespace HWY_NAMESPACE {

// Asks for the cache lines of `bytes` bytes from `data` to be brought in.
HWY_INLINE void PrefetchLines(const void* data, size_t bytes) {
    constexpr uintptr_t kLine = 64;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data) & ~(kLine - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(data) + bytes;
    for (uintptr_t line = begin; line < end; line += kLine) hwy::Prefetch(reinterpret_cast<const char*>(line));
}

// The lines of the field and the texture in rows first_row..last_row, columns
// first_col..end_col - 1.
HWY_INLINE void PrefetchRows(const LicLanes& a, long first_row, long last_row, long first_col, long end_col) {
    for (long row = first_row; row <= last_row; ++row) {
        const long start = row * a.grid.width + first_col;
        const size_t count = static_cast<size_t>(end_col - first_col);
        PrefetchLines(a.grid.vectors + 2 * start, 2 * sizeof(float) * count);
        PrefetchLines(a.texture + start, count);
    }
}

// How many of first, first + step, ... lie below end.
HWY_INLINE int LatticeCount(int first, int step, int end) {
    return end > first ? (end - first - 1) / step + 1 : 0;
}

// The plain LIC of a lattice of pixels, as ConvolvePixel: two batches of lanes at a time,
// so four halves step together. A batch covers up to as many rows as it has columns (a
// square of lanes when the lattice has the rows): on a sparse lattice its streamlines
// then run closer together than along one row, and so read fewer lines of the field.
void LicRowsLanes(const LicLanes& a, LaneRows rows, LaneColumns columns) {
    constexpr int kBatches = 2;
    const DF df;
    const DI di;
    const int n = static_cast<int>(hn::Lanes(df));
    const int row_count = LatticeCount(rows.first, rows.step, rows.end);
    const int col_count = LatticeCount(columns.first, columns.step, columns.end);
    if (row_count == 0 || col_count == 0) return;
    int tile_rows = 1;
    while (4 * tile_rows * tile_rows <= n && 2 * tile_rows <= row_count) tile_rows *= 2;
    const int tile_cols = n / tile_rows;
    int col_bits = 0;  // tile_cols is a power of two, as the lane count is
    while ((1 << col_bits) < tile_cols) ++col_bits;
    // Lane i covers row i / tile_cols and column i % tile_cols of its tile.
    const VI tile_row = hn::ShiftRightSame(hn::Iota(di, 0), col_bits);
    const VI tile_col = hn::And(hn::Iota(di, 0), hn::Set(di, tile_cols - 1));
    const VI magnitude_row0 = hn::Set(di, a.magnitudes.row0);
    const VI magnitude_col0 = hn::Set(di, a.magnitudes.col0);
    const VI magnitude_stride = hn::Set(di, a.magnitudes.stride);
    const float* tables[2] = {a.forward, a.backward};
    auto values = hwy::AllocateAligned<int32_t>(n);
    for (int r = 0; r < row_count; r += tile_rows) {
        for (int j = 0; j < col_count; j += kBatches * tile_cols) {
            HalfLanes halves[2 * kBatches];
            VF sigma[kBatches];
            for (int b = 0; b < kBatches; ++b) {
                const VI ri = hn::Add(hn::Set(di, r), tile_row);
                const VI ci = hn::Add(hn::Set(di, j + b * tile_cols), tile_col);
                const auto valid_i = hn::And(hn::Lt(ri, hn::Set(di, row_count)), hn::Lt(ci, hn::Set(di, col_count)));
                const VI pixel_rows =
                    hn::IfThenElseZero(valid_i, hn::Add(hn::Set(di, rows.first), hn::Mul(ri, hn::Set(di, rows.step))));
                const VI pixel_cols = hn::IfThenElseZero(
                    valid_i, hn::Add(hn::Set(di, columns.first), hn::Mul(ci, hn::Set(di, columns.step))));
                VF length = hn::Set(df, a.length);
                sigma[b] = hn::Set(df, a.sigma);
                if (a.magnitudes.data) {
                    // A lane outside the lattice reads the window's first magnitude.
                    const VI index = hn::IfThenElseZero(
                        valid_i, hn::Add(hn::Mul(hn::Sub(pixel_rows, magnitude_row0), magnitude_stride),
                                         hn::Sub(pixel_cols, magnitude_col0)));
                    length = MagLicLengthLanes(hn::GatherIndex(df, a.magnitudes.data, index));
                    sigma[b] = KernelTableScaleLanes(length);
                }
                halves[2 * b] = StartHalf(pixel_rows, pixel_cols, length, hn::RebindMask(df, valid_i));
                halves[2 * b + 1] = halves[2 * b];
            }
            WalkLanes walks[2 * kBatches];
            VF sums[2 * kBatches];
            for (int g = 0; g < 2 * kBatches; ++g) {
                walks[g].last = hn::Zero(df);
                sums[g] = hn::Zero(df);
            }
            auto visit = [&](int g, VF s, VI sample, MF active) {
                const VF w = walks[g].Weigh(tables[g % 2], EntryLanes(s, sigma[g / 2]), active);
                sums[g] = AccumulateLanes(sums[g], GatherBytes(a.texture, sample), w, active);
            };
            // A sparse lattice (every few rows) sweeps the whole field for few pixels, so
            // the lines of each tile row come from far caches. While this tile row is traced,
            // the lines of the rows down to the next one, under these columns, are brought
            // in; after the last tile row those are the next call's, often on this thread.
            // On a dense lattice the neighbouring streamlines have brought them already.
            if (rows.step > 1) {
                const long last_row =
                    rows.first + static_cast<long>(std::min(r + tile_rows, row_count) - 1) * rows.step;
                const long next_last =
                    std::min<long>(last_row + static_cast<long>(tile_rows) * rows.step, a.grid.height - 1);
                const long first_col = columns.first + static_cast<long>(j) * columns.step;
                const long end_col =
                    columns.first +
                    static_cast<long>(std::min(j + kBatches * tile_cols, col_count) - 1) * columns.step + 1;
                PrefetchRows(a, last_row + 1, next_last, first_col, end_col);
            }
            TraceHalves(a.grid, a.max_steps, halves, visit);
            for (int b = 0; b < kBatches; ++b) {
                const int first_col = j + b * tile_cols;
                if (first_col >= col_count) break;
                // A pixel on a zero vector weighs 1 with sum 0 in each half, so it comes out black.
                const VF one = hn::Set(df, 1.0f);
                const VF weight_fwd = hn::IfThenElse(halves[2 * b].critical_at_start, one, walks[2 * b].last);
                const VF weight_bwd = hn::IfThenElse(halves[2 * b + 1].critical_at_start, one, walks[2 * b + 1].last);
                hn::Store(LicValueLanes(sums[2 * b], sums[2 * b + 1], weight_fwd, weight_bwd), di, values.get());
                const int lane_rows = std::min(tile_rows, row_count - r);
                const int lane_cols = std::min(tile_cols, col_count - first_col);
                for (int tr = 0; tr < lane_rows; ++tr) {
                    const long row = rows.first + static_cast<long>(r + tr) * rows.step;
                    unsigned char* out = a.image.at(static_cast<int>(row), columns.first + first_col * columns.step);
                    for (int tc = 0; tc < lane_cols; ++tc)
                        out[static_cast<long>(tc) * columns.step] =
                            static_cast<unsigned char>(values[tr * tile_cols + tc]);
                }
            }
        }
    }
}

// Every frame of an animation pass for one row: the steps are shared, each frame weighs
// them with its own table and samples its own texture. Two batches of lanes at a time, so
// four halves step together; the per-frame state lives in memory, a vector per half and
// frame.
void AnimationRowLanes(const AnimationLanes& a, int row) {
    constexpr int kBatches = 2;
    const DF df;
    const DI di;
    const int n = static_cast<int>(hn::Lanes(df));
    const int frames = a.frames;
    const long row_start = static_cast<long>(row) * a.grid.width;
    const VI rows = hn::Set(di, row);
    const VF length = hn::Set(df, a.length);
    const VF sigma = hn::Set(df, a.sigma);
    const size_t state = 2 * kBatches * static_cast<size_t>(frames) * n;
    // [half][frame] vectors of the last table value and of the sum.
    auto last = hwy::AllocateAligned<float>(state);
    auto acc = hwy::AllocateAligned<float>(state);
    auto values = hwy::AllocateAligned<int32_t>(n);
    for (int j = 0; j < a.grid.width; j += kBatches * n) {
        HalfLanes halves[2 * kBatches];
        for (int b = 0; b < kBatches; ++b)
            StartBatch(rows, ColumnLanes(0, 1, a.grid.width, j + b * n), length, halves + 2 * b);
        std::memset(last.get(), 0, sizeof(float) * state);
        std::memset(acc.get(), 0, sizeof(float) * state);
        auto visit = [&](int g, VF s, VI sample, MF active) {
            const VI entry = EntryLanes(s, sigma);
            const VI shared = GatherBytes(a.texture, sample);
            for (int k = 0; k < frames; ++k) {
                float* last_k = last.get() + (g * frames + k) * n;
                float* acc_k = acc.get() + (g * frames + k) * n;
                WalkLanes walk{hn::Load(df, last_k)};
                const VF w = walk.Weigh(a.tables + static_cast<long>(2 * k + g % 2) * kKernelTableSize, entry, active);
                hn::Store(walk.last, df, last_k);
                const VI texel = a.texture_stride ? GatherBytes(a.texture + k * a.texture_stride, sample) : shared;
                hn::Store(AccumulateLanes(hn::Load(df, acc_k), texel, w, active), df, acc_k);
            }
        };
        TraceHalves(a.grid, a.max_steps, halves, visit);
        const VF one = hn::Set(df, 1.0f);
        for (int b = 0; b < kBatches; ++b) {
            const int first = j + b * n;
            if (first >= a.grid.width) break;
            const int lanes = std::min(n, a.grid.width - first);
            const size_t fwd = static_cast<size_t>(2 * b) * frames * n;
            const size_t bwd = fwd + static_cast<size_t>(frames) * n;
            for (int k = 0; k < frames; ++k) {
                // A pixel on a zero vector weighs 1 with sum 0 in every frame, so it comes out black.
                const VF weight_fwd =
                    hn::IfThenElse(halves[2 * b].critical_at_start, one, hn::Load(df, last.get() + fwd + k * n));
                const VF weight_bwd =
                    hn::IfThenElse(halves[2 * b + 1].critical_at_start, one, hn::Load(df, last.get() + bwd + k * n));
                const VF sum_fwd = hn::Load(df, acc.get() + fwd + k * n);
                const VF sum_bwd = hn::Load(df, acc.get() + bwd + k * n);
                hn::Store(LicValueLanes(sum_fwd, sum_bwd, weight_fwd, weight_bwd), di, values.get());
                unsigned char* out = a.out + k * a.frame_stride + row_start + first;
                for (int i = 0; i < lanes; ++i) out[i] = static_cast<unsigned char>(values[i]);
            }
        }
    }
}

// The three channel sums of one half of the colour-image LIC.
struct ChannelSums {
    VF blue, green, red;
};

// The colour LIC of one row: one 32-bit gather fetches a pixel's three channels. Two
// batches of lanes at a time, so four halves step together.
void ImageLicRowLanes(const ImageLicLanes& a, int row) {
    constexpr int kBatches = 2;
    const DF df;
    const DI di;
    const int n = static_cast<int>(hn::Lanes(df));
    const long row_start = static_cast<long>(row) * a.grid.width;
    const VI rows = hn::Set(di, row);
    const VF length = hn::Set(df, a.length);
    const VF sigma = hn::Set(df, a.sigma);
    const VI byte_mask = hn::Set(di, 0xFF);
    const float* tables[2] = {a.forward, a.backward};
    auto values = hwy::AllocateAligned<int32_t>(3 * static_cast<size_t>(n));
    auto keeps = hwy::AllocateAligned<int32_t>(n);
    for (int j = 0; j < a.grid.width; j += kBatches * n) {
        HalfLanes halves[2 * kBatches];
        WalkLanes walks[2 * kBatches];
        ChannelSums sums[2 * kBatches];
        for (int b = 0; b < kBatches; ++b)
            StartBatch(rows, ColumnLanes(0, 1, a.grid.width, j + b * n), length, halves + 2 * b);
        for (int g = 0; g < 2 * kBatches; ++g) {
            walks[g].last = hn::Zero(df);
            sums[g] = ChannelSums{hn::Zero(df), hn::Zero(df), hn::Zero(df)};
        }
        auto visit = [&](int g, VF s, VI sample, MF active) {
            const VF w = walks[g].Weigh(tables[g % 2], EntryLanes(s, sigma), active);
            const VI pixel = GatherBytes4(a.image, hn::Add(sample, hn::Add(sample, sample)));
            ChannelSums& sum = sums[g];
            sum.blue = AccumulateLanes(sum.blue, hn::And(pixel, byte_mask), w, active);
            sum.green = AccumulateLanes(sum.green, hn::And(hn::ShiftRight<8>(pixel), byte_mask), w, active);
            sum.red = AccumulateLanes(sum.red, hn::And(hn::ShiftRight<16>(pixel), byte_mask), w, active);
        };
        TraceHalves(a.grid, a.max_steps, halves, visit);
        for (int b = 0; b < kBatches; ++b) {
            const int first = j + b * n;
            if (first >= a.grid.width) break;
            const ChannelSums& sum_fwd = sums[2 * b];
            const ChannelSums& sum_bwd = sums[2 * b + 1];
            const VF weight_fwd = walks[2 * b].last;
            const VF weight_bwd = walks[2 * b + 1].last;
            hn::Store(LicValueLanes(sum_fwd.blue, sum_bwd.blue, weight_fwd, weight_bwd), di, values.get());
            hn::Store(LicValueLanes(sum_fwd.green, sum_bwd.green, weight_fwd, weight_bwd), di, values.get() + n);
            hn::Store(LicValueLanes(sum_fwd.red, sum_bwd.red, weight_fwd, weight_bwd), di, values.get() + 2 * n);
            // A pixel on a zero vector has no streamline to smear along and keeps its colour.
            const VI keep = hn::VecFromMask(di, hn::RebindMask(di, halves[2 * b].critical_at_start));
            hn::Store(keep, di, keeps.get());
            const int lanes = std::min(n, a.grid.width - first);
            for (int i = 0; i < lanes; ++i) {
                const long index = 3 * (row_start + first + i);
                for (int ch = 0; ch < 3; ++ch)
                    a.out[index + ch] = keeps[i] ? a.image[index + ch] : static_cast<unsigned char>(values[ch * n + i]);
            }
        }
    }
}

const LaneKernels* GetLaneKernels() {
    static const LaneKernels kernels{&LicRowsLanes, &AnimationRowLanes, &ImageLicRowLanes};
    return &kernels;
}

}  // namespace HWY_NAMESPACE
}  // namespace flowloom
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flowloom {

HWY_EXPORT(GetLaneKernels);

namespace {

// The path chosen: kAuto, kScalar or one Highway target bit.
constexpr int64_t kAuto = 0;
constexpr int64_t kScalar = -1;
std::atomic<int64_t> g_path{kAuto};

std::string LowerName(int64_t target) {
    // Highway's one-lane fallback would otherwise share its name with the reference path.
    if (target == HWY_SCALAR) return "single-lane";
    std::string name = hwy::TargetName(target);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// The compiled-in targets this machine runs, best first (lower bits are better); the
// emulated fallback runs everywhere.
std::vector<int64_t> RunnableTargets() {
    std::vector<int64_t> targets;
    for (int64_t left = HWY_TARGETS & (hwy::SupportedTargets() | HWY_EMU128 | HWY_SCALAR); left != 0; left &= left - 1)
        targets.push_back(left & -left);
    return targets;
}

// The entry of the dispatch table for one target, by the rule Highway's own dispatch uses
// for the chosen target (ChosenTarget::Update and GetIndex) applied to that target alone.
const LaneKernels* KernelsOf(int64_t target) {
#if (HWY_TARGETS & (HWY_TARGETS - 1)) == 0
    (void)target;
    return HWY_DISPATCH_TABLE(GetLaneKernels)[0]();
#else
    const int64_t mask = HWY_CHOSEN_TARGET_SHIFT(target) | HWY_CHOSEN_TARGET_MASK_SCALAR;
    const size_t index =
        hwy::Num0BitsBelowLS1Bit_Nonzero64(static_cast<uint64_t>(mask & HWY_CHOSEN_TARGET_MASK_TARGETS));
    return HWY_DISPATCH_TABLE(GetLaneKernels)[index]();
#endif
}

}  // namespace

bool SetSimdPath(std::string_view name) {
    if (name == "auto") {
        g_path = kAuto;
        return true;
    }
    if (name == "scalar") {
        g_path = kScalar;
        return true;
    }
    for (int64_t target : RunnableTargets()) {
        if (LowerName(target) == name) {
            g_path = target;
            return true;
        }
    }
    return false;
}

std::string SimdPathName() {
    const int64_t path = g_path;
    if (path == kScalar) return "scalar";
    if (path != kAuto) return LowerName(path);
    const std::vector<int64_t> targets = RunnableTargets();
    return targets.empty() ? "scalar" : LowerName(targets.front());
}

std::vector<std::string> SimdPathNames() {
    std::vector<std::string> names;
    for (int64_t target : RunnableTargets()) names.push_back(LowerName(target));
    return names;
}

MallocBuffer<unsigned char> PaddedTexture(const unsigned char* data, std::size_t bytes) {
    MallocBuffer<unsigned char> padded;
    if (!data || bytes > static_cast<std::size_t>(-1) - kLaneTexturePadding ||
        !padded.Allocate(bytes + kLaneTexturePadding))
        return padded;
    std::memcpy(padded.get(), data, bytes);
    std::memset(padded.get() + bytes, 0, kLaneTexturePadding);
    return padded;
}

const LaneKernels* ChosenLaneKernels(long indices) {
    const int64_t path = g_path;
    if (path == kScalar || indices > kMaxLaneIndices) return nullptr;
    if (path == kAuto) return HWY_DYNAMIC_DISPATCH(GetLaneKernels)();
    return KernelsOf(path);
}

}  // namespace flowloom
#endif  // HWY_ONCE
