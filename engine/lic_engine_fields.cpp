// The field stages of a computation: reading a field file or taking one from memory, the
// analytic fields, the region zoom, the output scale and the normalisation.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/fields.h"
#include "engine/lic_engine.h"
#include "engine/output_scale.h"
#include "lic/field_file.h"
#include "lic/field_mask.h"
#include "lic/parallel_data_map.h"
#include "lic/parallel_rows.h"
#include "media/nonlinear_data_map.h"

namespace flowloom {

namespace {

// The largest zoomed grid, per side.
constexpr int kMaxZoomedSide = 4000;

}  // namespace

int LicEngine::AllocateField() {
    mask.Release();
    physical_vectors.Release();
    physical_samples_ = -1;
    field_colour_.Release();
    if (!vectors.Allocate(2 * static_cast<size_t>(Samples(x_res, y_res)))) {
        field_width_ = field_height_ = 0;
        ReportOutOfMemory();
        return 0;
    }
    field_width_ = x_res;
    field_height_ = y_res;
    return 1;
}

int LicEngine::PrepareFileField() {
    if (field_type < kFieldFile) return 0;
    if (!(field_type == kFieldFile && field_changed == 1 && size_changed == 1)) {
        if (!vectors || !magnitudes) return 0;
        // The held file field dictates the grid: a size typed since it was loaded cannot
        // apply to it, so the window gets the field's own size back.
        x_res = field_width_;
        y_res = field_height_;
        return 1;
    }
    field_type = kFieldSaddle;
    ReleaseField();
    if (!LoadFieldFile()) return 0;
    FinishFileField();
    return magnitudes ? 1 : 0;
}

void LicEngine::FinishFileField() {
    if (roi_enabled == 1) ZoomRegion(0);  // a refused zoom keeps the unzoomed field
    field_type = kFieldFile;
    magnitudes.Release();
    if (!ApplyOutputScale()) return;
    NormalizeField(0);
}

int LicEngine::ApplyOutputScale() {
    if (output_scale == 1 || !vectors) return 1;
    scale_error.clear();
    if (!CheckOutputScale(x_res, y_res, output_scale, scale_error)) {
        ReleaseField();
        host().ShowMessage(("Scale refused: " + scale_error + "; nothing was computed.").c_str());
        return 0;
    }
    // Without magnitudes of its own the field is coloured by its vectors' lengths, which
    // are blended like any colour scalar rather than taken from the blended vectors.
    const long samples = Samples(x_res, y_res);
    MallocBuffer<float> lengths, copy;
    const float* colour = field_colour_.get();
    bool ok = true;
    if (!colour) {
        ok = copy.Allocate(2 * static_cast<size_t>(samples)) && lengths.Allocate(static_cast<size_t>(samples));
        if (ok) {
            std::memcpy(copy.get(), vectors.get(), 2 * sizeof(float) * static_cast<size_t>(samples));
            NormalizeVectorPairsScalar(samples, copy.get(), lengths.get());
            colour = lengths.get();
        }
    }
    // A colour scalar goes with the field, or the composition would read it on the wrong grid.
    MallocBuffer<float> fine_vectors, fine_colour, fine_scalar;
    MallocBuffer<unsigned char> fine_mask;
    // A field traced as an orientation, whether by its nature or by choice, is blended
    // without signs, or its opposite neighbours would cancel and the picture would depend on
    // the signs the input happened to have.
    ok = ok && UpsampleField(vectors.get(), mask.get(), colour, x_res, y_res, output_scale, field_periodic_x != 0,
                             TracedModes().orientation, fine_vectors, fine_mask, fine_colour, color_scalar.get(),
                             &fine_scalar);
    if (!ok) {
        scale_error = "not enough memory to scale the field";
        x_res *= output_scale;
        y_res *= output_scale;
        ReportOutOfMemory();
        ReleaseField();
        return 0;
    }
    vectors = std::move(fine_vectors);
    mask = std::move(fine_mask);
    field_colour_ = std::move(fine_colour);
    if (color_scalar) color_scalar = std::move(fine_scalar);
    x_res = field_width_ = x_res * output_scale;
    y_res = field_height_ = y_res * output_scale;
    // Fine sample j is centred at (j + 0.5) / scale - 0.5 of the grid before.
    const double shift = 0.5 / output_scale - 0.5;
    file_grid.origin_x += file_grid.step_x * shift;
    file_grid.origin_y += file_grid.step_y * shift;
    file_grid.step_x /= output_scale;
    file_grid.step_y /= output_scale;
    return 1;
}

void LicEngine::AdoptLoadedField(float* field, int width, int height) {
    ReleaseColorScalar();  // it went with the field before
    vectors.Adopt(field);
    mask.Adopt(MaskNonFiniteSamples(vectors.get(), width, height));
    x_res = field_width_ = width;
    y_res = field_height_ = height;
}

int LicEngine::LoadFieldFromMemory(int width, int height, const float* vxvy, const char* name, const char* units,
                                   const float* colour, const float* scalar) {
    if (!vxvy || width < 1 || height < 1 || width > kMaxFieldSide || height > kMaxFieldSide) return 0;
    const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(height);
    MallocBuffer<float> scalar_copy;
    if (scalar) {
        if (!scalar_copy.Allocate(samples)) return 0;
        std::memcpy(scalar_copy.get(), scalar, samples * sizeof(float));
    }
    float* copy = static_cast<float*>(std::malloc(2 * samples * sizeof(float)));
    if (!copy) return 0;
    MallocBuffer<float> colour_copy;
    if (colour && !colour_copy.Allocate(samples)) {
        std::free(copy);
        return 0;
    }
    std::memcpy(copy, vxvy, 2 * samples * sizeof(float));
    if (colour) std::memcpy(colour_copy.get(), colour, samples * sizeof(float));
    AdoptLoadedField(copy, width, height);
    field_colour_ = std::move(colour_copy);
    if (scalar) color_scalar = std::move(scalar_copy);
    field_file[0] = '\0';
    field_name = name ? name : "";
    field_units = units ? units : "";
    file_grid = FieldFileGrid();
    field_v_upwards = 0;
    FinishFileField();
    field_changed = 1;
    size_changed = 0;
    return magnitudes ? 1 : 0;
}

int LicEngine::LoadFieldFile() {
    import_error.clear();
    field_name.clear();
    field_units.clear();
    file_grid = FieldFileGrid();
    field_v_upwards = 0;
    // Other programs' formats are known by their first bytes; everything else is a .vec file.
    const FieldFormat format = SniffFieldFormat(field_file);
    if (format != FieldFormat::kVec) {
        ImportedField imported;
        if (!ImportFieldFile(field_file, import_options, imported, import_error)) {
            std::printf("\n%s\n", import_error.c_str());
            std::fflush(stdout);
            field_file[0] = '\0';
            return 0;
        }
        field_name = imported.name;
        field_units = imported.units;
        field_v_upwards = (format == FieldFormat::kNetcdf || format == FieldFormat::kCsv) ? 1 : 0;
        AdoptLoadedField(imported.vectors.Detach(), imported.width, imported.height);
        field_colour_ = std::move(imported.magnitudes);
        if (imported.color_scalar) {
            color_scalar = std::move(imported.color_scalar);
            color_scalar_name = imported.color_name;
            color_scalar_units = imported.color_units;
        }
        field_periodic_x = imported.periodic_x;
        field_orientation = imported.orientation;
        file_grid.x_axis = std::move(imported.x_axis);
        file_grid.y_axis = std::move(imported.y_axis);
        if (keep_physical_field == 1) file_grid.components = std::move(imported.components);
        file_grid.width = imported.width;
        file_grid.height = imported.height;
        return 1;
    }
    field_periodic_x = field_orientation = 0;
    if (ImportNeedsImportedFile(import_options)) {
        import_error = std::string(field_file) +
                       ": a .vec file has no coordinates, angles, Stokes parameters or colour variables to take the field from";
        std::printf("\n%s\n", import_error.c_str());
        std::fflush(stdout);
        field_file[0] = '\0';
        return 0;
    }
    int width = x_res;
    int height = y_res;
    float* loaded = LoadBinaryData(width, height, field_file);
    if (!loaded) {
        width = x_res;
        height = y_res;
        loaded = LoadTextData(width, height, field_file);
    }
    if (!loaded) {
        field_file[0] = '\0';
        return 0;
    }
    AdoptLoadedField(loaded, width, height);
    return 1;
}

void LicEngine::PrepareAnalyticField() {
    // Nothing changed and the held field (analytic, file or zoomed) still fits: keep it
    // with its magnitudes. A missing or mismatched field is rebuilt as after a size change.
    if (!size_changed && !field_changed && FieldUsable()) return;
    if (size_changed || !vectors || field_width_ != x_res || field_height_ != y_res) {
        if (!AllocateField()) return;
    }
    // An analytic field has data everywhere, whatever the field before it lacked.
    mask.Release();
    field_colour_.Release();
    field_periodic_x = field_orientation = 0;
    ReleaseColorScalar();
    field_name.clear();
    field_units.clear();
    file_grid = FieldFileGrid();
    field_v_upwards = 0;
    field_type = MakeAnalyticField(field_type, vectors.get(), x_res, y_res);
    if (roi_enabled == 1) ZoomRegion(0);
    magnitudes.Release();
    if (!ApplyOutputScale()) return;
    NormalizeField(1);
}

void LicEngine::NormalizeField(int range_mode) {
    const long samples = Samples(x_res, y_res);
    if (!vectors || field_width_ != x_res || field_height_ != y_res) return;
    if (!magnitudes.Allocate(static_cast<size_t>(samples))) {
        ReportOutOfMemory();
        return;
    }
    KeepPhysicalField();
    NormalizeVectors(magnitudes.get());
    if (field_colour_) {
        std::memcpy(magnitudes.get(), field_colour_.get(), sizeof(float) * static_cast<size_t>(samples));
        field_colour_.Release();
    }
    // A masked sample has no magnitude: NaN keeps it out of the distribution of the others.
    if (mask) {
        const int width = x_res;
        ForEachRow(y_res, [&](int row) {
            for (long i = static_cast<long>(row) * width; i < static_cast<long>(row + 1) * width; ++i)
                if (mask[i]) magnitudes[i] = std::numeric_limits<float>::quiet_NaN();
        });
    }
    // Kept for the norms that place the true lengths; without the memory only they are lost.
    if (raw_magnitudes.Allocate(static_cast<size_t>(samples)))
        std::memcpy(raw_magnitudes.get(), magnitudes.get(), sizeof(float) * static_cast<size_t>(samples));
    auto map = std::make_unique<NonlinearDataMap>();
    map->rangeMode = range_mode;
    map->outLow = data_min;
    map->outHigh = data_max;
    map->host = owner;
    MapInParallel(*map, samples, magnitudes.get());
}

void LicEngine::NormalizeVectors(float* lengths) {
    float* v = vectors.get();
    const int width = x_res;
    ForEachRow(y_res, [&](int row) {
        const long first = static_cast<long>(row) * width;
        NormalizeVectorPairs(width, v + 2 * first, lengths ? lengths + first : nullptr);
    });
}

int LicEngine::ZoomRegion(int magnitudes_flag) {
    if (!vectors) return 0;
    const int asked[4] = {roi_left, roi_top, roi_right, roi_bottom};
    if (!CheckRegion(x_res, y_res, roi_left, roi_top, roi_right, roi_bottom)) ReportRefusedRegion(asked);
    const int scale = roi_scale;
    const int zoomed_width = ZoomedSize(roi_left, roi_right, scale);
    const int zoomed_height = ZoomedSize(roi_top, roi_bottom, scale);
    if (scale >= 1 && (zoomed_width > kMaxZoomedSide || zoomed_height > kMaxZoomedSide)) {
        // Refused: keep the unzoomed field and compute on, with the whole grid as region.
        roi_left = 0;
        roi_top = 0;
        roi_right = x_res - 1;
        roi_bottom = y_res - 1;
        char text[256];
        std::snprintf(text, sizeof text,
                      "Zoom refused: the region at scale %d would be %d x %d samples, more than %d per side, "
                      "so the field is shown unzoomed.",
                      scale, zoomed_width, zoomed_height, kMaxZoomedSide);
        host().ShowMessage(text);
        return 0;
    }
    const bool carry = magnitudes_flag && magnitudes;
    float* mags = carry ? magnitudes.get() : nullptr;
    int width = x_res;
    int height = y_res;
    // The colour scalar and the true lengths go with the field; made before anything
    // changes, so that a failure keeps the unzoomed field whole.
    const auto resample = [&](const MallocBuffer<float>& values, MallocBuffer<float>& out) {
        if (values)
            out.Adopt(
                ResampleScalarRegion(values.get(), x_res, y_res, roi_left, roi_top, roi_right, roi_bottom, scale));
        return !values || out;
    };
    MallocBuffer<float> zoomed_scalar;
    MallocBuffer<float> zoomed_lengths;
    if (!resample(color_scalar, zoomed_scalar) || (carry && !resample(raw_magnitudes, zoomed_lengths))) return 0;
    MallocBuffer<unsigned char> zoomed_mask(
        ResampleMask(mask.get(), x_res, y_res, roi_left, roi_top, roi_right, roi_bottom, scale));
    float* zoomed = ResampleRegion(width, height, vectors.get(), roi_left, roi_top, roi_right, roi_bottom, scale,
                                   carry ? &mags : nullptr, data_min, data_max);
    if (!zoomed) return 0;
    if (field_colour_) {
        field_colour_.Adopt(
            ResampleScalarRegion(field_colour_.get(), x_res, y_res, roi_left, roi_top, roi_right, roi_bottom, scale));
    }
    // A cut-out, or a grid with its corners on the samples, no longer closes round the globe.
    field_periodic_x = 0;
    color_scalar = std::move(zoomed_scalar);
    raw_magnitudes = std::move(zoomed_lengths);  // without the magnitudes they are rebuilt with them
    // A vector blended with a masked neighbour is no data either.
    ZeroMaskedVectors(zoomed, zoomed_mask.get(), Samples(width, height));
    mask = std::move(zoomed_mask);
    if (carry) {
        magnitudes.Detach();  // ResampleRegion released the old array
        magnitudes.Adopt(mags);
    } else {
        magnitudes.Release();  // no longer matches the grid; the field stages rebuild it
    }
    // The values as read follow the zoom of a held field; a field zoomed before its
    // normalisation is copied after it instead (KeepPhysicalField).
    MallocBuffer<float> physical_zoomed;
    if (carry && physical_vectors && physical_samples_ == Samples(x_res, y_res)) {
        int physical_width = x_res;
        int physical_height = y_res;
        physical_zoomed.Adopt(ResampleRegion(physical_width, physical_height, physical_vectors.get(), roi_left, roi_top,
                                             roi_right, roi_bottom, scale, nullptr, data_min, data_max));
        if (physical_zoomed) ZeroMaskedVectors(physical_zoomed.get(), mask.get(), Samples(width, height));
    }
    physical_vectors = std::move(physical_zoomed);
    physical_samples_ = physical_vectors ? Samples(width, height) : -1;
    vectors.Adopt(zoomed);
    x_res = field_width_ = width;
    y_res = field_height_ = height;
    // Sample k of the zoomed grid lies at roi_left + k / scale of the grid before.
    file_grid.origin_x += file_grid.step_x * roi_left;
    file_grid.origin_y += file_grid.step_y * roi_top;
    file_grid.step_x /= scale;
    file_grid.step_y /= scale;
    return 1;
}

}  // namespace flowloom
