#pragma once
// Statements run on an engine session directly, as tests of the engine read them back: the first
// error (or its number), the first value, or the rows as the server displays them joined by "|".

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/engine/Display.h"
#include "platform/engine/Session.h"

namespace vopa::testing {

inline engine::ConnectOptions on(const std::string& database) { return engine::ConnectOptions{"(local)", database, "", ""}; }

// Runs the statements on a session of their own, which has ended when this returns (as it must before
// a test forks).
inline void prepare(std::initializer_list<std::string> statements) {
    engine::Session setup(on(""));
    for (const std::string& s : statements) setup.execute(s);
}

// The batch's first error, none when every statement succeeded.
inline std::optional<engine::EngineError> firstError(engine::Session& s, const std::string& batch) {
    for (const engine::StatementOutcome& o : s.executeBatch(batch))
        if (o.error) return o.error;
    return std::nullopt;
}

// The number of the batch's first error, 0 when every statement succeeded.
inline int errorOf(engine::Session& s, const std::string& batch) {
    const std::optional<engine::EngineError> error = firstError(s, batch);
    return error ? error->number() : 0;
}

// The first column of the first row ("<none>" for no row).
inline std::string scalar(engine::Session& s, const std::string& query) {
    std::optional<engine::ResultSet> rs = s.execute(query);
    return rs && !rs->rows.empty() ? rs->rows[0][0].toString() : "<none>";
}

inline std::vector<std::string> rowTexts(engine::Session& s, const std::string& query) {
    std::vector<std::string> out;
    std::optional<engine::ResultSet> rs = s.execute(query);
    for (const auto& row : rs->rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + engine::displayText(row[i], rs->columns[i].type);
        out.push_back(line);
    }
    return out;
}

}  // namespace vopa::testing
