#include "tools/setting_options.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/settings_table.h"
#include "tools/checked_integer.h"

namespace flowloom {

template <class Integer>
CLI::Option* AddSetting(CLI::App& app, std::string_view name, Integer& value) {
    const SettingRow& row = Setting(name);
    return app.add_option(std::string(row.option), value, std::string(row.help))
        ->check(CheckedInteger(row.min, row.max));
}

CLI::Option* AddChoice(CLI::App& app, std::string_view name, std::string& value) {
    const SettingRow& row = Setting(name);
    const std::vector<std::string> names(row.choices.begin(), row.choices.end());
    return app.add_option(std::string(row.option), value, std::string(row.help))->check(CLI::IsMember(names));
}

CLI::Option* AddFlag(CLI::App& app, std::string_view name, int& value) {
    const SettingRow& row = Setting(name);
    return app.add_flag(std::string(row.option), value, std::string(row.help));
}

CLI::Option* AddText(CLI::App& app, std::string_view name, std::string& value) {
    const SettingRow& row = Setting(name);
    CLI::Option* option = app.add_option(std::string(row.option), value, std::string(row.help));
    if (!row.metavar.empty()) option->type_name(std::string(row.metavar));
    return option;
}

template CLI::Option* AddSetting<int>(CLI::App&, std::string_view, int&);
template CLI::Option* AddSetting<int64_t>(CLI::App&, std::string_view, int64_t&);

int ParseCommandLine(CLI::App& app, int argc, char** argv, const char* program) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "%s: %s\nRun with --help for the options.\n", program, e.what());
        return 2;
    }
    return -1;
}

}  // namespace flowloom
