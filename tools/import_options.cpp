#include "tools/import_options.h"

namespace flowloom {

void AddImportOptions(CLI::App& app, ImportCli& cli) {
    ImportOptions& o = cli.options;
    app.add_option("--u-var", o.u_var, "NetCDF/.npz/CSV: the variable, array or column of the x component");
    app.add_option("--v-var", o.v_var, "... and of the y component (north or up for NetCDF and CSV)");
    app.add_option("--scalar-var", o.scalar_var, "Take the gradient of this scalar variable, array or column");
    app.add_option("--gradient", cli.gradient, "Gradient of a scalar grid: downhill (the default) or uphill")
        ->check(CLI::IsMember({"downhill", "uphill"}));
    app.add_option("--time", o.time_index, "NetCDF: index along the time dimension")
        ->check(CLI::Range(0, 1 << 30))
        ->capture_default_str();
    app.add_option("--level", o.level_index, "NetCDF: index along the level dimension")
        ->check(CLI::Range(0, 1 << 30))
        ->capture_default_str();
}

std::string FinishImportOptions(ImportCli& cli) {
    ImportOptions& o = cli.options;
    if (o.u_var.empty() != o.v_var.empty()) return "--u-var and --v-var go together";
    if (!o.scalar_var.empty() && !o.u_var.empty()) return "--scalar-var takes one variable, not --u-var/--v-var too";
    if (!cli.gradient.empty() && !o.u_var.empty()) return "--gradient needs a scalar grid, not --u-var/--v-var";
    o.gradient = cli.gradient == "uphill"     ? kGradientUphill
                 : cli.gradient == "downhill" ? kGradientDownhill
                                              : kGradientNone;
    return "";
}

}  // namespace flowloom
