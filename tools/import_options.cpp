#include "tools/import_options.h"

#include "tools/setting_options.h"

namespace flowloom {

void AddImportOptions(CLI::App& app, ImportCli& cli) {
    ImportOptions& o = cli.options;
    AddText(app, "u_var", o.u_var);
    AddText(app, "v_var", o.v_var);
    AddText(app, "scalar_var", o.scalar_var);
    AddChoice(app, "gradient", cli.gradient);
    AddSetting(app, "time_index", o.time_index)->capture_default_str();
    AddSetting(app, "level_index", o.level_index)->capture_default_str();
    AddChoice(app, "coordinates", cli.coordinates);
    AddText(app, "angle_var", o.angle_var);
    AddChoice(app, "angle_units", o.angle_units);
    AddText(app, "stokes", cli.stokes);
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
