// flowloom-convert: writes a field from a NumPy, NetCDF, CSV or .vec file as a binary .vec
// file, with the values as they were read (masked samples as NaN).

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "fieldio/field_import.h"
#include "lic/field_file.h"
#include "media/malloc_buffer.h"
#include "tools/checked_integer.h"
#include "tools/import_options.h"
#include "tools/setting_options.h"

namespace flowloom {
namespace {

int Run(int argc, char** argv) {
    CLI::App app{
        "flowloom-convert: writes the field of a NumPy (.npy, .npz), NetCDF, CSV or .vec file as a "
        "little-endian binary .vec file."};
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.set_version_flag("--version", "flowloom-convert " FLOWLOOM_VERSION, "Print the version and exit");
    std::string in, out, size;
    ImportCli import;
    app.add_option("IN", in, "The field file to read")->required();
    app.add_option("OUT", out, "The binary .vec file to write")->required();
    app.add_option("--size", size, "WIDTHxHEIGHT of a text .vec file, which does not say its own size");
    AddImportOptions(app, import);
    if (const int status = ParseCommandLine(app, argc, argv, "flowloom-convert"); status >= 0) return status;
    if (std::string error = FinishImportOptions(import); !error.empty()) {
        std::fprintf(stderr, "flowloom-convert: %s\n", error.c_str());
        return 2;
    }
    // A .vec file holds the values as read unless a conversion is asked for by name: it
    // cannot say that its grid lay on the sphere.
    if (import.coordinates.empty()) import.options.coordinates = Coordinates::kIndex;
    int text_width = 0, text_height = 0;
    if (!size.empty()) {
        const std::size_t x = size.find('x');
        int64_t w = 0, h = 0;
        if (x == std::string::npos || !ParseCheckedInteger(size.substr(0, x), 1, 4000, w) ||
            !ParseCheckedInteger(size.substr(x + 1), 1, 4000, h)) {
            std::fprintf(stderr, "flowloom-convert: --size takes WIDTHxHEIGHT, each 1..4000\n");
            return 2;
        }
        text_width = static_cast<int>(w);
        text_height = static_cast<int>(h);
    }

    ImportedField field;
    std::string error;
    if (SniffFieldFormat(in.c_str()) != FieldFormat::kVec) {
        if (!ImportFieldFile(in.c_str(), import.options, field, error)) {
            std::fprintf(stderr, "flowloom-convert: %s\n", error.c_str());
            return 1;
        }
    } else if (ImportNeedsImportedFile(import.options)) {
        std::fprintf(stderr,
                     "flowloom-convert: %s: a .vec file has no coordinates, angles, Stokes parameters or colour variables to "
                     "take the "
                     "field from\n",
                     in.c_str());
        return 1;
    } else {
        // The .vec readers print their own diagnostics on standard output.
        int width = 0, height = 0;
        field.vectors.Adopt(LoadBinaryData(width, height, in.c_str()));
        if (!field.vectors && text_width > 0) {
            width = text_width;
            height = text_height;
            field.vectors.Adopt(LoadTextData(width, height, in.c_str()));
        }
        if (!field.vectors) {
            std::fprintf(stderr,
                         "flowloom-convert: %s: neither a NumPy, NetCDF or CSV file nor a readable .vec file "
                         "(a text .vec needs --size WIDTHxHEIGHT)\n",
                         in.c_str());
            return 1;
        }
        field.width = width;
        field.height = height;
    }
    if (!WriteVecFile(out.c_str(), field.width, field.height, field.vectors.get(), error)) {
        std::fprintf(stderr, "flowloom-convert: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "flowloom-convert: wrote %d x %d%s%s%s%s%s%s to %s\n", field.width, field.height,
                 field.name.empty() ? "" : ", ", field.name.c_str(), field.units.empty() ? "" : " in ",
                 field.units.c_str(), field.coordinates == Coordinates::kIndex ? "" : ", converted by ",
                 field.coordinates == Coordinates::kIndex ? "" : CoordinatesName(field.coordinates), out.c_str());
    if (field.periodic_x) std::fprintf(stderr, "flowloom-convert: the grid goes round the globe (periodic in x)\n");
    return 0;
}

}  // namespace
}  // namespace flowloom

int main(int argc, char** argv) {
    return flowloom::Run(argc, argv);
}
