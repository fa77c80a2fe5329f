#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
#include <unistd.h>

#include "platform/engine/storage/Catalog.h"
#include "platform/engine/storage/Functions.h"
#include "platform/engine/storage/Sqlite.h"

using namespace vopa::engine::storage;
using vopa::engine::BaseType;
using vopa::engine::SqlType;

namespace {

TEST(Like, MatchesAsTheServerDoes) {
    struct Case {
        const char* value;
        const char* pattern;
        char32_t escape;
        bool match;
    };
    // Prefixes, case and accents, "_", ranges and the value's trailing blanks are run by comparisons.test,
    // order.test, like_blanks.test and databases.test; these are not, or (a negated set) only once.
    const Case cases[] = {
        {"Citta", "città", 0, false}, {"a%c", "a!%c", U'!', true},  {"abc", "a!%c", U'!', false},
        {"x]", "x]", 0, true},        {"", "%", 0, true},          {"aXbXc", "a%b%c", 0, true},
        {"d", "[^a-c]", 0, true},     {"b", "[^a-c]", 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(likeMatch(c.value, c.pattern, c.escape), c.match) << c.value << " LIKE " << c.pattern;
}

TEST(Catalog, ShowsDefaultsAsTheServerDoes) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "((0))"},           {"(0)", "((0))"},       {"((2884 + 919) / 100)", "((2884 + 919) / 100)"},
        {"'1'", "('1')"},         {"('Sezionale Iva')", "('Sezionale Iva')"}, {"getdate()", "(getdate())"},
        {" (1001) ", "((1001))"}, {"(1) + (2)", "((1) + (2))"},
    };
    for (auto [written, shown] : cases) EXPECT_EQ(normaliseDefault(written), shown) << written;
}

// What a file's catalog records is what a session reading it later finds: columns, identity, keys and
// each index column's direction.
TEST(Catalog, ReadsBackWhatWasWritten) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("vopa-catalog-" + std::to_string(::getpid()) + ".mdf");
    std::filesystem::remove(file);
    {
        Connection db(file.string(), true);
        registerCollation(db.handle());
        db.exec("BEGIN");
        initialiseDatabase(db, "main", "Prova");
        TableInfo t;
        t.objectId = nextObjectId(db, "main");
        t.name = "movimenti";
        auto column = [](int id, const char* name, BaseType type) {
            ColumnInfo c;
            c.id = id;
            c.name = name;
            c.type = SqlType::of(type);
            return c;
        };
        t.columns = {column(1, "ID", BaseType::Int), column(2, "Data", BaseType::DateTime),
                     column(3, "Conto", BaseType::Int)};
        t.columns[0].nullable = false;
        t.columns[0].identity = true;
        t.columns[0].seed = 100;
        t.columns[0].increment = 5;
        createTable(db, "main", t);
        auto index = [](int id, const char* name, std::vector<int> columns, std::vector<bool> descending) {
            IndexInfo i;
            i.id = id;
            i.name = name;
            i.columnIds = std::move(columns);
            i.descending = std::move(descending);
            return i;
        };
        IndexInfo pk = index(1, "PK_movimenti", {1}, {false});
        pk.unique = pk.primaryKey = pk.clustered = true;
        addIndex(db, "main", t, pk);
        addIndex(db, "main", t, index(2, "IX_recenti", {3, 2}, {false, true}));
        db.exec("COMMIT");
    }
    {
        Connection db(file.string(), false);
        const auto catalog = DatabaseCatalog::load(db, "main");
        const TableInfo* t = catalog->find("MOVIMENTI");
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->columns.size(), 3u);
        const ColumnInfo& id = t->columns[0];
        EXPECT_EQ(std::tuple(id.identity, id.seed, id.increment, id.nullable), std::tuple(true, 100, 5, false));
        EXPECT_EQ(t->columns[1].name, "Data");
        const IndexInfo* pk = t->findIndex("PK_movimenti");
        ASSERT_NE(pk, nullptr);
        EXPECT_TRUE(pk->primaryKey && pk->unique && pk->clustered);
        const IndexInfo* recent = t->findIndex("ix_recenti");
        ASSERT_NE(recent, nullptr);
        EXPECT_FALSE(recent->unique);
        EXPECT_EQ(recent->columnIds, (std::vector<int>{3, 2}));
        EXPECT_EQ(recent->descending, (std::vector<bool>{false, true}));
    }
    std::filesystem::remove(file);
}

TEST(Catalog, DatePartNames) {
    for (const char* name : {"year", "YY", "yyyy", "month", "mm", "day", "dd", "weekday", "hour", "mi", "ss", "ms"})
        EXPECT_GE(datePartCode(name), 0) << name;
    EXPECT_EQ(datePartCode("fortnight"), -1);
}

}  // namespace
