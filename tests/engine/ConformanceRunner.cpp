// Runs the engine's conformance files (*.test below this folder), each on a fresh drive C:.
//
//   # comment
//   statement ok                 the statement (lines up to a blank line) succeeds
//   statement error 2714         it fails with this error number; lines after "----", when given, are
//                                the error's text and the messages that follow it, one per line
//   statement affected 3         it succeeds and changes 3 rows
//   query                        the rows it returns, one per line, values joined by "|"; every row
//   <sql>                        has as many values as the result has columns
//   ----
//   1|abc|NULL
//   query 3                      the same, and the result has exactly 3 columns (also when it has no rows)
//   connection NAME [DATABASE]   the following statements run on this connection (made on first use)
//
// A directive may end with "crlf": the statement's lines are then joined by CR LF instead of LF, as
// the program sends them. A line "\" inside a statement stands for an empty line of the statement.
//
// An internal failure of the engine (error 50000) fails the test wherever it happens.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "platform/engine/Display.h"
#include "platform/engine/Session.h"
#include "support/TempDrive.h"

namespace fs = std::filesystem;
using namespace vopa::engine;

namespace {

struct Block {
    int line = 0;
    std::string directive;
    std::vector<std::string> sql;
    std::vector<std::string> expected;
};

std::vector<Block> readBlocks(const fs::path& file) {
    std::ifstream in(file);
    std::vector<Block> blocks;
    std::string line;
    int number = 0;
    Block* current = nullptr;
    bool inResults = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!current) {
            if (line.empty() || line[0] == '#') continue;
            blocks.push_back({number, line, {}, {}});
            current = line.rfind("connection", 0) == 0 ? nullptr : &blocks.back();  // a connection has no body
            inResults = false;
        } else if (line.empty()) {
            current = nullptr;
        } else if (line == "----") {
            inResults = true;
        } else if (inResults) {
            current->expected.push_back(line);
        } else {
            current->sql.push_back(line == "\\" ? std::string() : line);
        }
    }
    return blocks;
}

std::string join(const std::vector<std::string>& lines, const std::string& separator) {
    std::string s;
    for (std::size_t i = 0; i < lines.size(); ++i) s += (i ? separator : "") + lines[i];
    return s;
}

class Conformance : public ::testing::TestWithParam<fs::path> {};

TEST_P(Conformance, File) {
    vopa::testing::TempDrive drive;
    std::map<std::string, std::unique_ptr<Session>> sessions;
    Session* session = nullptr;
    auto connect = [&](const std::string& name, const std::string& database) {
        auto& s = sessions[name];
        if (!s) s = std::make_unique<Session>(ConnectOptions{"(local)", database, "", ""});
        session = s.get();
    };
    connect("default", "");
    const fs::path file = GetParam();
    for (const Block& b : readBlocks(file)) {
        std::istringstream words(b.directive);
        std::string kind, arg, more;
        words >> kind >> arg >> more;
        const std::string where = file.filename().string() + ":" + std::to_string(b.line);
        if (kind == "connection") {
            connect(arg, more);
            continue;
        }
        const bool crlf = b.directive.find("crlf") != std::string::npos;
        const std::string text = join(b.sql, crlf ? "\r\n" : "\n");
        std::vector<StatementOutcome> outcomes;
        try {
            outcomes = session->executeBatch(text);
        } catch (const std::exception& e) {
            ADD_FAILURE() << where << ": the engine threw " << e.what() << "\n" << text;
            continue;
        }
        const StatementOutcome* failed = nullptr;
        for (const StatementOutcome& o : outcomes) {
            if (o.error && !failed) failed = &o;
            if (o.error && o.error->number() == 50000)
                ADD_FAILURE() << where << ": internal error of the engine: " << o.error->what() << "\n" << text;
        }
        if (kind == "statement" && arg == "error") {
            if (!failed) {
                ADD_FAILURE() << where << ": expected error " << more << " but the statement succeeded\n" << text;
            } else {
                EXPECT_EQ(std::to_string(failed->error->number()), more)
                    << where << ": " << failed->error->what() << "\n" << text;
                if (!b.expected.empty()) {
                    std::vector<std::string> messages{failed->error->what()};
                    for (const EngineError& e : failed->followingErrors) messages.push_back(e.what());
                    EXPECT_EQ(join(messages, "\n"), join(b.expected, "\n")) << where << "\n" << text;
                }
            }
            continue;
        }
        if (failed) {
            ADD_FAILURE() << where << ": Msg " << failed->error->number() << ": " << failed->error->what() << "\n" << text;
            continue;
        }
        if (kind == "statement" && arg == "affected") {
            std::int64_t affected = outcomes.empty() ? -1 : outcomes.back().rowsAffected;
            EXPECT_EQ(std::to_string(affected), more) << where << "\n" << text;
        } else if (kind == "query") {
            std::vector<std::string> actual;
            const ResultSet* last = nullptr;
            for (const StatementOutcome& o : outcomes) {
                if (!o.resultSet) continue;
                last = &*o.resultSet;
                for (const auto& row : o.resultSet->rows) {
                    std::string line;
                    for (std::size_t i = 0; i < row.size(); ++i)
                        line += (i ? "|" : "") + displayText(row[i], o.resultSet->columns[i].type);
                    actual.push_back(line);
                }
            }
            EXPECT_EQ(join(actual, "\n"), join(b.expected, "\n")) << where << "\n" << text;
            if (!last) {
                ADD_FAILURE() << where << ": the statement returned no result\n" << text;
            } else if (!arg.empty() && arg != "crlf") {
                EXPECT_EQ(std::to_string(last->columns.size()), arg) << where << ": number of columns\n" << text;
            } else if (!b.expected.empty() && !last->rows.empty()) {
                // The first expected row has one value per column (values that hold "|" themselves
                // count as they show in the first row returned).
                std::size_t bars = last->columns.size() - 1;
                for (std::size_t i = 0; i < last->columns.size(); ++i) {
                    const std::string v = displayText(last->rows[0][i], last->columns[i].type);
                    bars += static_cast<std::size_t>(std::count(v.begin(), v.end(), '|'));
                }
                const std::string& line = b.expected[0];
                EXPECT_EQ(static_cast<std::size_t>(std::count(line.begin(), line.end(), '|')), bars)
                    << where << ": number of columns in '" << line << "'\n" << text;
            }
        } else if (kind != "statement" || arg != "ok") {
            ADD_FAILURE() << where << ": unknown directive '" << b.directive << "'";
        }
    }
}

std::vector<fs::path> conformanceFiles() {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(VOPA_CONFORMANCE_DIR))
        if (entry.path().extension() == ".test") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::string testName(const ::testing::TestParamInfo<fs::path>& info) {
    std::string name = fs::relative(info.param, VOPA_CONFORMANCE_DIR).replace_extension().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Engine, Conformance, ::testing::ValuesIn(conformanceFiles()), testName);

}  // namespace
