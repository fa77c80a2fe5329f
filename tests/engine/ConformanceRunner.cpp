// Runs the engine's conformance files (*.test below this folder), each on a fresh drive C:.
//
//   # comment
//   statement ok                 the statement (lines up to a blank line) succeeds
//   statement error 2714         it fails with this error number
//   statement affected 3         it succeeds and changes 3 rows
//   query                        the rows it returns, one per line, values joined by "|"
//   <sql>
//   ----
//   1|abc|NULL
//   connection NAME [DATABASE]   the following statements run on this connection (made on first use)
//
// A directive may end with "crlf": the statement's lines are then joined by CR LF instead of LF, as
// the program sends them. A line "\" inside a statement stands for an empty line of the statement.

#include <gtest/gtest.h>

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
            current = &blocks.back();
            inResults = false;
            if (line.rfind("connection", 0) == 0) current = nullptr;
            continue;
        }
        if (line.empty()) {
            current = nullptr;
            continue;
        }
        if (line == "----") {
            inResults = true;
            continue;
        }
        if (inResults)
            current->expected.push_back(line);
        else
            current->sql.push_back(line == "\\" ? std::string() : line);
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
        for (const StatementOutcome& o : outcomes)
            if (o.error && !failed) failed = &o;
        if (kind == "statement" && arg == "error") {
            if (!failed) {
                ADD_FAILURE() << where << ": expected error " << more << " but the statement succeeded\n" << text;
            } else {
                EXPECT_EQ(std::to_string(failed->error->number()), more)
                    << where << ": " << failed->error->what() << "\n" << text;
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
            for (const StatementOutcome& o : outcomes) {
                if (!o.resultSet) continue;
                for (const auto& row : o.resultSet->rows) {
                    std::string line;
                    for (std::size_t i = 0; i < row.size(); ++i)
                        line += (i ? "|" : "") + displayText(row[i], o.resultSet->columns[i].type);
                    actual.push_back(line);
                }
            }
            EXPECT_EQ(join(actual, "\n"), join(b.expected, "\n")) << where << "\n" << text;
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
