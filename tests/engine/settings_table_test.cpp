// The settings table: every front end reads its ranges and names, so its own parsing of
// list and real values must refuse exactly what lies outside them.
#include "engine/settings_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace flowloom {
namespace {

TEST(SettingsTable, ListsAndRealsTakeTheirCountAndRangeAndNothingElse) {
    std::vector<double> values;
    const SettingRow& percentiles = Setting("percentiles");
    EXPECT_EQ(ParseSettingValues(percentiles, "2,98", values), "");
    EXPECT_EQ(values, (std::vector<double>{2.0, 98.0}));
    EXPECT_EQ(ParseSettingValues(percentiles, "0,100", values), "");
    for (const char* bad :
         {"2", "2,98,99", "-1,50", "2,100.5", "a,b", "2,", ",98", "", "2;98", "nan,5", "inf,5", "2 ,98", "1e400,5"}) {
        EXPECT_NE(ParseSettingValues(percentiles, bad, values), "") << bad;
        EXPECT_TRUE(values.empty()) << bad;
    }
    EXPECT_EQ(ParseSettingValues(percentiles, "x", values), "--percentiles takes LO,HI with each from 0 to 100");

    const SettingRow& mask = Setting("mask_color");
    EXPECT_EQ(ParseSettingValues(mask, "255,0,128", values), "");
    EXPECT_NE(ParseSettingValues(mask, "255,0,128.5", values), "");  // integers only
    EXPECT_NE(ParseSettingValues(mask, "256,0,0", values), "");
    EXPECT_NE(ParseSettingValues(mask, "1,2", values), "");

    const SettingRow& alpha = Setting("alpha");
    EXPECT_EQ(ParseSettingValues(alpha, "0.25", values), "");
    EXPECT_EQ(ParseSettingValues(alpha, "1.5", values), "--alpha takes a number from 0 to 1");
}

TEST(SettingsTable, NamesAreUniqueAndEveryRowIsWhole) {
    std::set<std::string> names, options;
    for (const SettingRow& row : SettingsTable()) {
        EXPECT_TRUE(names.insert(std::string(row.name)).second) << row.name;
        if (!row.option.empty()) {
            EXPECT_TRUE(options.insert(std::string(row.option)).second) << row.option;
        }
        EXPECT_FALSE(row.help.empty()) << row.name;
        if (row.kind == SettingKind::kChoice) {
            // Every name has its value; the field's last value (a file) has no name.
            EXPECT_EQ(static_cast<int64_t>(row.choices.size()) - 1 + (row.name == "field_type"), row.max) << row.name;
            EXPECT_LE(row.initial, row.max) << row.name;
        }
        if (row.kind == SettingKind::kInteger && row.count == 1) {
            EXPECT_TRUE(row.initial >= row.min && row.initial <= row.max) << row.name;
        }
        if (row.count > 1) {
            EXPECT_FALSE(row.metavar.empty()) << row.name;
        }
    }
    // Only the record's settings are copied back after a computation.
    for (const SettingRow& row : SettingsTable())
        if (row.computed) {
            EXPECT_NE(row.record, nullptr) << row.name;
        }
}

}  // namespace
}  // namespace flowloom
