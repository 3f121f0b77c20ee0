#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "fieldio/field_import.h"
#include "lic/field_mask.h"

// What every import must hold to: a success delivers a whole field within the size limit
// (its last float is read, so a short buffer shows), a failure says why and delivers nothing.
inline void CheckImportOutcome(int ok, const flowloom::ImportedField& field, const std::string& error) {
    if (ok) {
        if (!field.vectors || field.width < 1 || field.height < 1 || field.width > flowloom::kMaxFieldSide ||
            field.height > flowloom::kMaxFieldSide)
            std::abort();
        volatile float last = field.vectors[2 * static_cast<std::size_t>(field.width) * field.height - 1];
        (void)last;
    } else if (error.empty() || field.vectors) {
        std::abort();
    }
}

inline void ImportAndCheck(const std::vector<unsigned char>& bytes, const flowloom::ImportOptions& options) {
    flowloom::ImportedField field;
    std::string error;
    const int ok = flowloom::ImportFieldBytes(bytes, "fuzz", options, field, error);
    CheckImportOutcome(ok, field, error);
}
