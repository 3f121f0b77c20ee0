#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "fieldio/field_import.h"
#include "lic/field_mask.h"

// What every import must hold to: a success delivers a whole field within the size limit
// (its last float is read, so a short buffer shows), with its colour variable when one was
// asked for; a failure says why and delivers nothing.
inline void CheckImportOutcome(int ok, const flowloom::ImportedField& field, const std::string& error) {
    if (ok) {
        if (!field.vectors || field.width < 1 || field.height < 1 || field.width > flowloom::kMaxFieldSide ||
            field.height > flowloom::kMaxFieldSide)
            std::abort();
        const std::size_t samples = static_cast<std::size_t>(field.width) * field.height;
        volatile float last = field.vectors[2 * samples - 1];
        // A colour variable covers the field's grid too.
        if (field.color_scalar) last = field.color_scalar[samples - 1];
        (void)last;
    } else if (error.empty() || field.vectors || field.color_scalar) {
        std::abort();
    }
}

inline void ImportAndCheck(const std::vector<unsigned char>& bytes, const flowloom::ImportOptions& options) {
    flowloom::ImportedField field;
    std::string error;
    const int ok = flowloom::ImportFieldBytes(bytes, "fuzz", options, field, error);
    CheckImportOutcome(ok, field, error);
}
