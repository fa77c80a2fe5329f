#include <gtest/gtest.h>

#include <map>

#include "transfer/Catalogue.h"

using namespace vopa::transfer;

namespace {

// Positions count up through the groups in order, every copy pairs each insert column with one select item;
// some entries carry a guard, a constant item or no identity switch. (Every copy statement is run on the
// engine by CatalogueCopy.EveryCopyStatementRunsAndMovesTheRows.)
TEST(Catalogue, EntriesAreInOrderAndPairTheirColumns) {
    int numbered = 0, group = 1, guarded = 0, constants = 0, withoutSwitch = 0;
    for (const CatalogueEntry& e : catalogue()) {
        SCOPED_TRACE(e.table);
        EXPECT_GE(e.group, group);
        group = e.group;
        if (e.position == 0) continue;  // identity switches without a copy
        EXPECT_EQ(e.position, ++numbered);
        ASSERT_EQ(e.insertColumns.size(), e.selectItems.size());
        ASSERT_EQ(e.isConstant.size(), e.selectItems.size());
        for (bool c : e.isConstant) constants += c ? 1 : 0;
        guarded += e.guardKey().empty() ? 0 : 1;
        withoutSwitch += e.identitySwitch() ? 0 : 1;
    }
    EXPECT_EQ(group, 11);
    EXPECT_GT(guarded, 0);
    EXPECT_GT(constants, 0);
    EXPECT_GT(withoutSwitch, 0);
    EXPECT_LT(withoutSwitch, numbered / 2);
    EXPECT_TRUE(catalogue().front().hasFlag("refresh_projects_after"));
}

TEST(Catalogue, GroupsShowTheirErrorsAsListed) {
    std::map<int, ErrorMode> modes;
    for (const CatalogueEntry& e : catalogue()) modes[e.group] = e.mode;
    for (int g : {1, 7, 11}) EXPECT_EQ(modes[g], ErrorMode::Silent) << g;
    for (int g : {6, 9}) EXPECT_EQ(modes[g], ErrorMode::Message) << g;
    for (int g : {2, 3, 4, 5, 8, 10}) EXPECT_EQ(modes[g], ErrorMode::MessageAndFlag) << g;
}

TEST(Catalogue, ConstantItemsKeepTheirTextAndGuardsNameTheKey) {
    for (const CatalogueEntry& e : catalogue()) {
        if (e.table == "contatorepd") {
            EXPECT_EQ(e.selectItems[2], "CONVERT(DATETIME, '2000-12-31', 102)");
            EXPECT_TRUE(e.isConstant[2]);
            EXPECT_NE(copyStatement(e, "X").find("\r\n   CONVERT(DATETIME, '2000-12-31', 102),\r\n"), std::string::npos);
        }
        if (e.table == "Lotti") {
            EXPECT_NE(copyStatement(e, "X").find(" where [VoPaDatiTraining].[dbo].[Lotti].[IDAutonumber]=\r\n"
                                                 " [X].[dbo].[Lotti].[IDAutonumber])"),
                      std::string::npos)
                << copyStatement(e, "X");
        }
    }
}

}  // namespace
