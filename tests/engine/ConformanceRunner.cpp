// The conformance files run in-process: each on a fresh drive C:, on the engine's own sessions, values
// shown with the engine's display text.

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "Conformance.h"
#include "platform/engine/Display.h"
#include "platform/engine/Session.h"
#include "support/TempDrive.h"

namespace fs = std::filesystem;
using namespace vopa::engine;
using namespace vopa::testing::conformance;

namespace {

class InProcess final : public Executor {
public:
    void connect(const std::string& name, const std::string& database) override {
        auto& s = sessions_[name];
        if (!s) s = std::make_unique<Session>(ConnectOptions{"(local)", database, "", ""});
        session_ = s.get();
    }

    std::vector<StatementResult> execute(const std::string& batch) override {
        std::vector<StatementResult> results;
        for (const vopa::engine::StatementOutcome& o : session_->executeBatch(batch)) {
            // What a client is shown: errors, result sets and counts (not DECLARE, SET, USE...).
            if (!o.error && !o.resultSet && o.rowsAffected < 0) continue;
            StatementResult r;
            if (o.error) {
                r.error = o.error->number();
                r.messages.push_back(o.error->what());
                for (const EngineError& e : o.followingErrors) r.messages.push_back(e.what());
            }
            r.rowsAffected = o.rowsAffected;
            if (o.resultSet) {
                r.hasResult = true;
                r.columns = o.resultSet->columns.size();
                for (const auto& row : o.resultSet->rows) {
                    std::vector<std::string> texts;
                    for (std::size_t i = 0; i < row.size(); ++i)
                        texts.push_back(displayText(row[i], o.resultSet->columns[i].type));
                    r.rows.push_back(std::move(texts));
                }
            }
            results.push_back(std::move(r));
        }
        return results;
    }

private:
    std::map<std::string, std::unique_ptr<Session>> sessions_;
    Session* session_ = nullptr;
};

class Conformance : public ::testing::TestWithParam<fs::path> {};

TEST_P(Conformance, File) {
    vopa::testing::TempDrive drive;
    InProcess executor;
    runFile(GetParam(), executor);
}

INSTANTIATE_TEST_SUITE_P(Engine, Conformance, ::testing::ValuesIn(files()),
                         [](const auto& param) { return testName(param.param); });

}  // namespace
