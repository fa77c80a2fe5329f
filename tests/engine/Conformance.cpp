// Runs the engine's conformance files (*.test below tests/engine), each on a fresh drive C:.
//
//   # comment
//   statement ok                 the statement (lines up to a blank line) succeeds
//   statement error 2714         it fails with this error number; lines after "----", when given, are
//                                the error's text and the messages that follow it, one per line
//   statement affected 3         it succeeds and the last count of rows it reports is 3
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
// Only what a client is shown counts: errors, result sets and row counts (a SET or DECLARE shows none).
// An internal failure of the engine (error 50000) fails the test wherever it happens.

#include "Conformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace vopa::testing::conformance {

// Every statement of the files gives through the wire what it gives in-process, once the driver's
// forms are turned into the engine's (tests/server/WireConformanceTest.cpp): nothing is listed. An
// entry names a statement whose outcome the driver makes differ, what the check then reports, and why.
const std::vector<KnownDifference>& wireDifferences() {
    static const std::vector<KnownDifference> list = {};
    return list;
}

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

// Collects what differs from the file's expectation for one block.
class Problems {
public:
    Problems(std::string where, std::string text) : where_(std::move(where)), text_(std::move(text)) {}
    void add(const std::string& what) { list_.push_back(where_ + ": " + what + "\n" + text_); }
    void expectEqual(const std::string& actual, const std::string& expected, const std::string& what) {
        if (actual != expected) add(what + "\n  expected: " + expected + "\n  actual:   " + actual);
    }
    const std::vector<std::string>& list() const { return list_; }

private:
    std::string where_, text_;
    std::vector<std::string> list_;
};

void check(const Block& b, const std::string& kind, const std::string& arg, const std::string& more,
           const std::vector<StatementResult>& results, Problems& p) {
    const StatementResult* failed = nullptr;
    for (const StatementResult& r : results) {
        if (r.error && !failed) failed = &r;
        if (r.error && *r.error == 50000)
            p.add("internal error: " + (r.messages.empty() ? std::string() : r.messages.front()));
    }
    if (kind == "statement" && arg == "error") {
        if (!failed) return p.add("expected error " + more + " but the statement succeeded");
        p.expectEqual(std::to_string(*failed->error), more, "error number (" + join(failed->messages, " / ") + ")");
        if (!b.expected.empty()) p.expectEqual(join(failed->messages, "\n"), join(b.expected, "\n"), "messages");
        return;
    }
    if (failed)
        return p.add("Msg " + std::to_string(*failed->error) + ": " + join(failed->messages, "\n"));
    if (kind == "statement" && arg == "affected") {
        const std::int64_t affected = results.empty() ? -1 : results.back().rowsAffected;
        p.expectEqual(std::to_string(affected), more, "rows affected");
    } else if (kind == "query") {
        std::vector<std::string> actual;
        const StatementResult* last = nullptr;
        for (const StatementResult& r : results) {
            if (!r.hasResult) continue;
            last = &r;
            for (const auto& row : r.rows) actual.push_back(join(row, "|"));
        }
        p.expectEqual(join(actual, "\n"), join(b.expected, "\n"), "rows");
        if (!last) {
            p.add("the statement returned no result");
        } else if (!arg.empty() && arg != "crlf") {
            p.expectEqual(std::to_string(last->columns), arg, "number of columns");
        } else if (!b.expected.empty() && !last->rows.empty()) {
            // The first expected row has one value per column (values that hold "|" themselves
            // count as they show in the first row returned).
            std::size_t bars = last->columns - 1;
            for (const std::string& v : last->rows[0])
                bars += static_cast<std::size_t>(std::count(v.begin(), v.end(), '|'));
            const std::string& line = b.expected[0];
            p.expectEqual(std::to_string(std::count(line.begin(), line.end(), '|')), std::to_string(bars),
                          "number of columns in '" + line + "'");
        }
    } else if (kind != "statement" || arg != "ok") {
        p.add("unknown directive '" + b.directive + "'");
    }
}

}  // namespace

void runFile(const fs::path& file, Executor& executor, const std::vector<KnownDifference>* differences) {
    const std::string name = fs::relative(file, VOPA_CONFORMANCE_DIR).generic_string();
    executor.connect("default", "");
    for (const Block& b : readBlocks(file)) {
        std::istringstream words(b.directive);
        std::string kind, arg, more;
        words >> kind >> arg >> more;
        const std::string where = name + ":" + std::to_string(b.line);
        if (kind == "connection") {
            executor.connect(arg, more);
            continue;
        }
        const bool crlf = b.directive.find("crlf") != std::string::npos;
        const std::string text = join(b.sql, crlf ? "\r\n" : "\n");
        Problems problems(where, text);
        try {
            check(b, kind, arg, more, executor.execute(text), problems);
        } catch (const std::exception& e) {
            problems.add(std::string("the batch could not run: ") + e.what());
        }
        const KnownDifference* known = nullptr;
        if (differences)
            for (const KnownDifference& d : *differences)
                if (d.where == where) known = &d;
        if (!known) {
            for (const std::string& problem : problems.list()) ADD_FAILURE() << problem;
            continue;
        }
        // A listed difference must still be there, as listed: otherwise the list has gone stale.
        const std::string all = join(problems.list(), "\n");
        if (problems.list().empty())
            ADD_FAILURE() << where << ": listed as differing through the wire (" << known->reason
                          << ") but now gives what the file expects: take it off the list";
        else if (all.find(known->gives) == std::string::npos)
            ADD_FAILURE() << where << ": differs otherwise than listed ('" << known->gives << "'):\n" << all;
    }
}

bool namesStatement(const std::string& where) {
    const std::size_t colon = where.rfind(':');
    if (colon == std::string::npos) return false;
    const fs::path file = fs::path(VOPA_CONFORMANCE_DIR) / where.substr(0, colon);
    if (!fs::exists(file)) return false;
    for (const Block& b : readBlocks(file))
        if (std::to_string(b.line) == where.substr(colon + 1)) return b.directive.rfind("connection", 0) != 0;
    return false;
}

std::vector<fs::path> files() {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(VOPA_CONFORMANCE_DIR))
        if (entry.path().extension() == ".test") found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

std::string testName(const fs::path& file) {
    std::string name = fs::relative(file, VOPA_CONFORMANCE_DIR).replace_extension().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

}  // namespace vopa::testing::conformance
