#include <gtest/gtest.h>

#include "platform/data/Connection.h"
#include "support/ScriptedMessageService.h"
#include "support/ScriptedMessages.h"
#include "support/TempDrive.h"
#include "util/LockRetry.h"

using namespace vopa;

namespace {

TEST(LockRetry, TriesAgainOnLockConflictsWithinItsBound) {
    struct Case {
        const char* label;
        std::vector<int> failures;  // error numbers of the first attempts, then success
        int attempts;
        int expectedCalls;
        int expectedError;  // 0: succeeds
    };
    const Case cases[] = {
        {"two conflicts then success", {3260, 3260}, 20, 3, 0},
        {"other lock numbers", {3197, 3218, 1222}, 20, 4, 0},
        {"a conflict that never ends", std::vector<int>(50, 3260), 5, 5, 3260},
        {"not a conflict: passed on at once", {8152}, 20, 1, 8152},
    };
    for (const Case& c : cases) {
        int calls = 0;
        int error = 0;
        try {
            util::retryOnLock(
                [&] {
                    ++calls;
                    if (static_cast<std::size_t>(calls) <= c.failures.size())
                        throw data::DataError(c.failures[static_cast<std::size_t>(calls - 1)], "locked");
                },
                c.attempts, std::chrono::milliseconds(0));
        } catch (const data::DataError& e) {
            error = e.number();
        }
        EXPECT_EQ(calls, c.expectedCalls) << c.label;
        EXPECT_EQ(error, c.expectedError) << c.label;
    }
}

TEST(LockRetry, ReportingVariantShowsProviderFailuresOnly) {
    vopa::testing::TempDrive drive;
    vopa::testing::ScriptedMessages script;
    data::Connection c;
    c.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    c.execute("CREATE DATABASE L");
    c.execute("CREATE TABLE L.dbo.t (nome nvarchar(3) NULL)");
    c.execute("INSERT INTO L.dbo.t VALUES ('a')");
    data::Recordset rs;
    rs.open("SELECT * FROM L.dbo.t", c, data::CursorType::Keyset, data::LockType::Pessimistic);
    rs.setField("nome", Value::string("troppo lungo"));
    util::updateWithLockRetryReporting(rs);
    ASSERT_EQ(script->boxes().size(), 1u);
    EXPECT_NE(script->boxes()[0].text.find("truncated"), std::string::npos);
    rs.cancelUpdate();

    data::Recordset readOnly;
    readOnly.open("SELECT * FROM L.dbo.t", c);
    util::updateWithLockRetryReporting(readOnly);
    EXPECT_EQ(script->boxes().size(), 1u) << "the layer's own refusal is not shown";
}

}  // namespace
