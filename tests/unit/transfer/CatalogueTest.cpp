#include <gtest/gtest.h>

#include <map>

#include "transfer/Catalogue.h"

using namespace vopa::transfer;

namespace {

TEST(Catalogue, HoldsTheElevenGroupsInOrder) {
    std::map<int, int> perGroup;
    std::map<int, ErrorMode> modes;
    int numbered = 0, withoutSwitch = 0, guarded = 0, constants = 0;
    for (const CatalogueEntry& e : catalogue()) {
        if (e.position == 0) continue;  // identity switches without a copy
        ++numbered;
        EXPECT_EQ(e.position, numbered);
        ++perGroup[e.group];
        modes[e.group] = e.mode;
        withoutSwitch += e.identitySwitch() ? 0 : 1;
        guarded += e.guardKey().empty() ? 0 : 1;
        for (bool c : e.isConstant) constants += c ? 1 : 0;
        EXPECT_EQ(e.insertColumns.size(), e.selectItems.size()) << e.table;
    }
    EXPECT_EQ(numbered, 242);
    EXPECT_EQ(perGroup, (std::map<int, int>{{1, 19}, {2, 42}, {3, 21}, {4, 28}, {5, 16}, {6, 8}, {7, 6}, {8, 11}, {9, 70},
                                            {10, 18}, {11, 3}}));
    for (int g : {1, 7, 11}) EXPECT_EQ(modes[g], ErrorMode::Silent) << g;
    for (int g : {6, 9}) EXPECT_EQ(modes[g], ErrorMode::Message) << g;
    for (int g : {2, 3, 4, 5, 8, 10}) EXPECT_EQ(modes[g], ErrorMode::MessageAndFlag) << g;
    EXPECT_EQ(withoutSwitch, 3);
    EXPECT_EQ(guarded, 8);
    EXPECT_EQ(constants, 2);
    EXPECT_TRUE(catalogue().front().hasFlag("refresh_projects_after"));
    EXPECT_EQ(catalogue().front().table, "progetti");
}

TEST(Catalogue, ConstantItemsKeepTheirText) {
    for (const CatalogueEntry& e : catalogue())
        if (e.table == "contatorepd") {
            EXPECT_EQ(e.selectItems[2], "CONVERT(DATETIME, '2000-12-31', 102)");
            EXPECT_TRUE(e.isConstant[2]);
            EXPECT_NE(copyStatement(e, "X").find("\r\n   CONVERT(DATETIME, '2000-12-31', 102),\r\n"), std::string::npos);
        }
}

}  // namespace
