#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "fieldio/field_import.h"

namespace flowloom {

// The options that choose what to take from a NumPy, NetCDF or CSV field file, shared by
// flowloom-render and flowloom-convert.
struct ImportCli {
    ImportOptions options;
    std::string gradient;
    std::string coordinates;
    std::string stokes;  // "Q,U"
};

void AddImportOptions(CLI::App& app, ImportCli& cli);

// Checks the combination after parsing and completes `cli.options`; an error text, or
// empty when all is well.
std::string FinishImportOptions(ImportCli& cli);

}  // namespace flowloom
