#pragma once
// The runner of the engine's conformance files (*.test below tests/engine), shared by the two ways of
// running them: in-process on the engine's sessions, and through the program's ODBC provider to
// vopa-server. The file format is described at the top of Conformance.cpp.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vopa::testing::conformance {

// What one statement of a batch gave back, as a client shows it.
struct StatementResult {
    std::optional<int> error;           // the number of the statement's error
    std::vector<std::string> messages;  // the error's text, then the messages that follow it
    std::int64_t rowsAffected = -1;     // -1 when the statement reports no count
    bool hasResult = false;             // the statement returned a result (possibly without rows)
    std::size_t columns = 0;
    std::vector<std::vector<std::string>> rows;  // each value's display text ("NULL" for a null)
};

// A way of running the files' statements.
class Executor {
public:
    virtual ~Executor() = default;
    // The following batches run on connection `name`, made on first use (on `database` when given).
    virtual void connect(const std::string& name, const std::string& database) = 0;
    // Runs a batch; each statement that showed something, in order. Throws when it cannot run at all.
    virtual std::vector<StatementResult> execute(const std::string& batch) = 0;
};

// A statement of a file whose outcome through the wire cannot be the one the file expects, with
// what the wire gives instead (a piece of the failure the check reports) and why.
struct KnownDifference {
    std::string where;   // "messages/following_messages.test:12": the file (below tests/engine) and the line
    std::string gives;   // a piece of the check's failure text through the wire
    std::string reason;
};

// The differences the FreeTDS ODBC driver causes.
const std::vector<KnownDifference>& wireDifferences();
// Whether `where` ("dir/file.test:12") is the line of a statement of a file.
bool namesStatement(const std::string& where);

// Runs one file with `executor` and reports every mismatch as a test failure. With `differences`,
// a listed statement must still differ as listed (and is not reported otherwise).
void runFile(const std::filesystem::path& file, Executor& executor,
             const std::vector<KnownDifference>* differences = nullptr);

// The conformance files, sorted, and a test name for each.
std::vector<std::filesystem::path> files();
std::string testName(const std::filesystem::path& file);

}  // namespace vopa::testing::conformance
