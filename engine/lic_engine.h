#pragma once

#include <filesystem>
#include <string>

#include "engine/settings_record.h"
#include "fieldio/field_import.h"
#include "lic/animation.h"
#include "lic/compose.h"
#include "lic/streamline.h"
#include "media/color_bar.h"
#include "media/host.h"
#include "media/malloc_buffer.h"

namespace flowloom {

enum FieldType { kFieldSaddle = 0, kFieldSpiralling = 1, kFieldVortex = 2, kFieldRepelling = 3, kFieldFile = 4 };

// Reads the input image of LICing as the engine does: a name ending in "bmp"/"BMP" as BMP,
// "rgb"/"RGB" as SGI RGB, any other name as a PNG or JPEG photograph by its content. A
// 24-bit buffer from malloc (the caller frees it), or null when the file cannot be read,
// with the reader's reason in `failure` when it is given.
unsigned char* ReadInputImage24(const char* path, int& width, int& height, std::string* failure = nullptr);

// The grid of a field file as read, and where each sample of the engine's held grid lies on
// it: (origin_x + column * step_x, origin_y + row * step_y) in the file's samples, the
// identity after a load; a region zoom and the output scale move it.
struct FieldFileGrid {
    FieldAxis x_axis;  // the file's coordinates (no values where it gave none)
    FieldAxis y_axis;
    // The file's own u, v (x or east, y or north) where the held vectors were converted
    // from them; absent otherwise, and then the held vectors are the file's values.
    MallocBuffer<float> components;
    int width = 0;
    int height = 0;
    double origin_x = 0.0;
    double origin_y = 0.0;
    double step_x = 1.0;
    double step_y = 1.0;
};

// The one computing object: it holds the settings, the vector field, the textures, the
// kernel tables and the result images, and runs the compute pipeline. The window hands
// it a whole SettingsRecord, lets it compute, and takes back the values it changed.
// It talks to its window only through `owner` (progress bars and messages).
class LicEngine : public SettingsRecord {
public:
    // `owner` may be null: the engine then runs headless.
    explicit LicEngine(Host* owner = nullptr);
    ~LicEngine();
    LicEngine(const LicEngine&) = delete;
    LicEngine& operator=(const LicEngine&) = delete;

    // Releases every buffer and restores every setting to its default.
    void Reset();
    void ImportSettings(const SettingsRecord& record);
    // Writes back the twenty settings the engine may change; paths, change flags and
    // mode flags are left alone.
    void ExportSettings(SettingsRecord& record) const;
    // The pipeline: kernel, field, texture, convolution, filters, composition.
    void Compute();

    // Composes a colour image from a grey one with the engine's field, display flags and
    // color_options. Does nothing when either image is absent. Options that cannot be met
    // (see ComposeColorImage) write nothing: 0, the reason in compose_error and shown on the
    // host. 1 otherwise.
    int ComposeImage(const unsigned char* grey, unsigned char* rgb, int color_flag);
    // The norm that ComposeImage puts the colour under, in the data's units (a colour bar
    // draws it): the colour scalar's or the lengths' under color_options. 0 with a message
    // in `error` when the options cannot be met or there is no field.
    int ColorNormInUse(ColorNorm& norm, std::string& error) const;
    // The colour bar of the held picture's scale: the map and norm of the composition, and
    // the name and units of what the colour follows (the colour scalar, else the field's
    // magnitude). 0 with a message in `error` as ColorNormInUse.
    int ColorBarInUse(ColorBar& bar, std::string& error) const;
    // Takes a colour scalar of the held field's shape (FieldWidth x FieldHeight, row 0 at the
    // top), copied; NaN or infinite samples are drawn in the mask colour. It goes with the
    // field: zoomed with it, dropped when another field replaces it. 0, with nothing changed,
    // for null data, another shape or no memory. `name` and `units` (may be null) label it.
    int SetColorScalar(int width, int height, const float* values, const char* name = nullptr,
                       const char* units = nullptr);
    // Writes the field as a binary vector file (the directions times the mapped
    // magnitudes, or unit directions when there are none). 1 on success, 0 on failure.
    int SaveBinaryData(const char* path);

    // Progressive LIC: computes passes first..last of the level-of-detail pass order,
    // blacking pixels outside the region (inclusive bounds), then composes the colour
    // image. Does nothing at all when first > last, last < 0 or last >= levels * levels.
    void ProgressiveStep(int levels, int first_pass, int last_pass, int left, int right, int top, int bottom);
    // Writes the animation frames below `animation_dir`; 1 when every frame was written.
    // The result is also kept in `animation_written` for the window.
    int ComputeAnimationFrames();
    // What the animation's passes take of the engine as it stands: the field on its grid
    // (after any zoom and output scale), the texture, the kernel and the traced modes.
    AnimationInput AnimationSetup() const;
    // The LICing of the input image `image_file` (.bmp/.BMP or .rgb/.RGB by name, any other
    // name a PNG or JPEG photograph by content): afterwards the
    // engine holds the processed image in rgb_image and the field it followed; nothing
    // else. A file that cannot be read leaves every buffer absent.
    void ProcessImage();
    // The image path on pixels already read: takes `image` (malloc'd, blue, green, red per
    // pixel, width x height) as rgb_image and runs the passes on it as ProcessImage does
    // after reading the file. 1 on success; 0 when memory runs short (rgb_image then holds
    // the passes done so far).
    int LicImagePixels(unsigned char* image, int width, int height);
    // The colour LIC of `image` along `field`, in place; 0 without kernel tables or memory.
    int ComputeImageLIC(int width, int height, unsigned char* image, const float* field);
    // Rebuilds the kernel tables from kernel_type and kernel_length when kernel_changed is
    // set, and clears it.
    void UpdateKernelTables();

    // Takes a caller's field from memory: `width` x `height` samples of interleaved (vx, vy)
    // floats, row 0 at the top, vx to the right and vy downwards, as a field file holds them.
    // Each side must lie in 1..kMaxFieldSide (4000). The data is copied; a sample with a NaN
    // or infinite component becomes a masked zero vector. The field then stands in for a
    // file's: field_type 4, x_res x y_res its size, field_file emptied, zoomed when
    // roi_enabled is 1 and normalised as a file's field is, and field_changed set so that the
    // next Compute makes the texture afresh and keeps this field. Call it after
    // ImportSettings (a record that signals a new file, field_changed and size_changed both
    // 1, would load field_file instead). 1 on success; 0, with nothing changed, for null
    // data or a side out of range, and 0 when memory runs short.
    // `name` and `units` (may be null) describe the field for the caption. `colour`, when
    // not null, holds width x height magnitudes (NaN where missing) that colour the field
    // instead of the vectors' lengths, as an import's physical magnitudes do.
    // field_periodic_x and field_orientation, as the caller set them, describe the field.
    // `scalar` (may be null) is a colour scalar of the same shape, taken with the field
    // before the zoom, as SetColorScalar takes it.
    int LoadFieldFromMemory(int width, int height, const float* vxvy, const char* name = nullptr,
                            const char* units = nullptr, const float* colour = nullptr, const float* scalar = nullptr);

    // Stages of Compute, public so that tests and tools can drive them one by one.
    int PrepareFileField();
    int LoadFieldFile();
    void PrepareAnalyticField();
    void NormalizeField(int range_mode);
    int ZoomRegion(int magnitudes_flag);
    void ResizeImages();
    void MakeNoise();
    void RenderLic();
    void ConvolveLic();
    void EnhancedLic();
    void ReleaseAll();
    void ReleaseImages();

    // Samples of the held field and images (0 when absent), for callers that must not
    // trust x_res and y_res alone.
    int FieldWidth() const { return field_width_; }
    int FieldHeight() const { return field_height_; }
    bool ImagesMatchGrid() const;
    // Whether rgb_image holds a picture of x_res x y_res (after any computation, including
    // the image path, which leaves no grey image).
    bool HasColorImage() const;
    // Whether physical_vectors holds the values of the field that is held now, sample for
    // sample (the LICing of a photograph has none).
    bool HasPhysicalField() const;

    Host* owner;

    // Engine-only settings, never copied to or from the window.
    float kernel_phase = 0.0f;
    float kernel_ripples = 3.0f;
    int flip_rows = 0;
    int flip_columns = 0;
    // Boundaries and orientation of every pass that traces streamlines; closed and off by
    // default. A zoomed region is no whole period, so it is traced with closed boundaries.
    StreamlineModes streamline_modes;
    // What a front end asked of the modes: -1 leaves them to the field (a grid round the
    // globe wraps in x, angle and Stokes inputs are orientation fields), 0 off or closed, 1
    // on or periodic.
    int boundary_x_choice = -1;
    int boundary_y_choice = -1;
    int orientation_choice = -1;
    int color_by_data = 0;
    unsigned char mask_color[3] = {0, 0, 0};  // blue, green, red of masked samples
    // What the colour follows, its map, norm and blend; the defaults give the window's picture.
    ColorOptions color_options;
    std::string compose_error;  // why the last ComposeImage wrote nothing; empty otherwise
    float data_min = 1.0f;
    float data_max = 1000.0f;
    // Where the animation's "LICAnimation" directory goes; the current directory by default.
    std::filesystem::path animation_dir = ".";
    int animation_written = 0;  // result of the last ComputeAnimationFrames
    // What to take from a NumPy, NetCDF or CSV field file (variables, indices, gradient).
    ImportOptions import_options;
    // The held field's name and units as its file gives them; empty for analytic fields.
    std::string field_name;
    std::string field_units;
    // Where the held grid came from in its field file, for a reader of positions and values.
    FieldFileGrid file_grid;
    // Why the last field file could not be imported; empty after a load that worked.
    std::string import_error;
    // 1 when the held field's second component points up the rows, as the northward v of a
    // NetCDF or CSV grid does (the engine's vy is then -v); 0 for .vec, NumPy, memory and
    // analytic fields, whose second component points down as vy does.
    int field_v_upwards = 0;
    // 1: keep the field's values as read (after any zoom, before normalisation) in
    // `physical_vectors`, for a reader of sample values; the pictures do not change.
    // Reset leaves it as it is, like animation_dir.
    int keep_physical_field = 0;
    // The picture's grid is the field's, this many times finer in both directions (1..16;
    // see UpsampleField): the field, its mask and its magnitudes are interpolated onto it
    // after any region zoom, whatever the field type. 1 is the field's own grid. Never
    // copied to or from the window, whose region zoom stays as it is.
    int output_scale = 1;
    // Why the last computation drew nothing because of output_scale (out of range, too
    // large, or no memory); empty otherwise. The message also goes to the host.
    std::string scale_error;
    // The held field wraps in x (a geographic grid round the globe), for a periodic
    // boundary; cleared by an analytic field, a .vec file and a region zoom.
    int field_periodic_x = 0;
    // The held field's vectors are directions without sign (angle and Stokes inputs).
    int field_orientation = 0;
    // Why the last input image could not be read ("<path>: <reason>"); empty after a read
    // that worked. The readers' own diagnostics on standard output stay as they are.
    std::string image_error;

    unsigned char contrast_table[256] = {};
    MallocBuffer<float> kernel_fwd;
    MallocBuffer<float> kernel_bwd;
    MallocBuffer<float> vectors;     // (vx, vy) per sample
    MallocBuffer<float> magnitudes;  // mapped onto data_min..data_max
    // Each vector's length before the data map, NaN where masked; beside `magnitudes`, for a
    // magnitude under a linear or log norm.
    MallocBuffer<float> raw_magnitudes;
    // The caller's colour scalar, beside `vectors` and of its size; absent without one.
    MallocBuffer<float> color_scalar;
    std::string color_scalar_name;
    std::string color_scalar_units;
    // 1 per masked sample (no data: NaN in a file, a fill value), beside `vectors` and of its
    // size; absent when nothing is masked. A masked vector is (0, 0).
    MallocBuffer<unsigned char> mask;
    // The held field's vectors as read, in the file's units, while keep_physical_field is 1;
    // valid only when HasPhysicalField(). Masked samples are (0, 0) here too.
    MallocBuffer<float> physical_vectors;
    MallocBuffer<unsigned char> noise;
    MallocBuffer<unsigned char> lic_image;
    MallocBuffer<unsigned char> rgb_image;  // blue, green, red per pixel

private:
    // Samples of a width x height grid; 0 for an empty one.
    static long Samples(int width, int height);
    Host& host() const;
    // Allocates a fresh field of x_res x y_res vectors; 0 (with a message) when out of memory.
    int AllocateField();
    // Whether the held field and magnitudes can serve the current grid as they are.
    bool FieldUsable() const;
    // streamline_modes as the passes take them: closed boundaries on a zoomed region.
    StreamlineModes TracedModes() const;
    void ReportOutOfMemory();
    // Tells the host that the region `asked` (left, top, right, bottom) was replaced by the
    // whole grid, and why.
    void ReportRefusedRegion(const int asked[4]);
    // Unit vectors in place; each length (or 0) into `lengths` when it is not null.
    void NormalizeVectors(float* lengths);
    // Makes a loaded field (malloc'd, handed over) the engine's, masking its non-finite samples.
    void AdoptLoadedField(float* field, int width, int height);
    // What follows the load of a file field: the zoom when asked, the output scale, then
    // normalisation.
    void FinishFileField();
    // Copies the field as it stands into physical_vectors when asked to keep it.
    void KeepPhysicalField();
    // Interpolates the held field onto the grid output_scale times finer; at 1 it does
    // nothing. 0, with the field released and scale_error set, when it is refused.
    int ApplyOutputScale();
    // Releases the field and everything that describes it.
    void ReleaseField();
    void ReleaseColorScalar();
    // What the composition reads of the engine, for the grey image `grey` (may be null).
    ComposeSource ComposeSourceOf(const unsigned char* grey) const;

    int field_width_ = 0;
    int field_height_ = 0;
    // Magnitudes that colour the held field instead of its vectors' lengths (an import's
    // physical magnitudes), width x height like the field; taken by NormalizeField.
    MallocBuffer<float> field_colour_;
    long image_samples_ = -1;     // samples of noise, lic_image and rgb_image; -1 when absent
    long rgb_samples_ = -1;       // samples of rgb_image alone (the image path has no grey image)
    long physical_samples_ = -1;  // samples of physical_vectors; -1 when absent
};

}  // namespace flowloom
