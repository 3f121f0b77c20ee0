#include "tools/import_options.h"

#include "tools/checked_integer.h"

namespace flowloom {

void AddImportOptions(CLI::App& app, ImportCli& cli) {
    ImportOptions& o = cli.options;
    app.add_option("--u-var", o.u_var, "NetCDF/.npz/CSV: the variable, array or column of the x component");
    app.add_option("--v-var", o.v_var, "... and of the y component (north or up for NetCDF and CSV)");
    app.add_option("--scalar-var", o.scalar_var, "Take the gradient of this scalar variable, array or column");
    app.add_option("--gradient", cli.gradient, "Gradient of a scalar grid: downhill (the default) or uphill")
        ->check(CLI::IsMember({"downhill", "uphill"}));
    app.add_option("--time", o.time_index, "NetCDF: index along the time dimension")
        ->check(CheckedInteger(0, 1 << 30))
        ->capture_default_str();
    app.add_option("--level", o.level_index, "NetCDF: index along the level dimension")
        ->check(CheckedInteger(0, 1 << 30))
        ->capture_default_str();
    app.add_option("--coordinates", cli.coordinates,
                   "What the file's coordinates mean: index (steps in samples, the default), grid (convert by "
                   "the coordinates' spacing), geographic (longitude/latitude in degrees, also by cos(latitude)) "
                   "or auto (geographic when NetCDF coordinates carry CF degrees_east/degrees_north units)")
        ->check(CLI::IsMember({"index", "grid", "geographic", "auto"}));
    app.add_option("--angle-var", o.angle_var,
                   "An orientation field from this angle variable, array or column: unit vectors (cos, sin)");
    app.add_option("--angle-units", o.angle_units, "Units of the --angle-var values where the file gives none")
        ->check(CLI::IsMember({"degrees", "radians"}));
    app.add_option("--stokes", cli.stokes,
                   "An orientation field from Stokes Q,U: the angle 1/2 atan2(U, Q), coloured by sqrt(Q^2 + U^2)");
}

std::string FinishImportOptions(ImportCli& cli) {
    ImportOptions& o = cli.options;
    if (o.u_var.empty() != o.v_var.empty()) return "--u-var and --v-var go together";
    if (!o.scalar_var.empty() && !o.u_var.empty()) return "--scalar-var takes one variable, not --u-var/--v-var too";
    if (!cli.gradient.empty() && !o.u_var.empty()) return "--gradient needs a scalar grid, not --u-var/--v-var";
    const bool plain = !o.u_var.empty() || !o.scalar_var.empty() || !cli.gradient.empty();
    if (!cli.stokes.empty()) {
        const std::size_t comma = cli.stokes.find(',');
        if (comma == std::string::npos || comma == 0 || comma + 1 == cli.stokes.size() ||
            cli.stokes.find(',', comma + 1) != std::string::npos)
            return "--stokes takes two names, Q,U";
        o.stokes_q = cli.stokes.substr(0, comma);
        o.stokes_u = cli.stokes.substr(comma + 1);
    }
    if (!o.angle_var.empty() && !cli.stokes.empty()) return "--angle-var and --stokes are two different inputs";
    if ((!o.angle_var.empty() || !cli.stokes.empty()) && plain)
        return std::string(o.angle_var.empty() ? "--stokes" : "--angle-var") +
               " is the whole field: no --u-var/--v-var, --scalar-var or --gradient with it";
    if (!o.angle_units.empty() && o.angle_var.empty()) return "--angle-units needs --angle-var";
    if (!cli.coordinates.empty()) ParseCoordinates(cli.coordinates, o.coordinates);
    o.gradient = cli.gradient == "uphill"     ? kGradientUphill
                 : cli.gradient == "downhill" ? kGradientDownhill
                                              : kGradientNone;
    return "";
}

}  // namespace flowloom
