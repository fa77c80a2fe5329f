#pragma once
// The rows a query returns through a connection, one text per row with the columns as the server
// displays them, separated by "|": what a test compares with the rows it expects.

#include <memory>
#include <string>
#include <vector>

#include "platform/data/Connection.h"
#include "platform/data/EngineProvider.h"
#include "platform/data/Recordset.h"
#include "platform/engine/Display.h"

namespace vopa::testing {

inline std::vector<std::string> rowTexts(data::Connection& c, const std::string& query) {
    std::vector<std::string> out;
    std::shared_ptr<data::Recordset> rs = c.execute(query);
    if (!rs->isOpen()) return out;
    for (rs->moveFirst(); !rs->eof(); rs->moveNext()) {
        std::string line;
        for (int i = 0; i < rs->fieldCount(); ++i) {
            const data::ColumnType& type = rs->rows().columns[static_cast<std::size_t>(i)].type;
            line += (i ? "|" : "") + engine::displayText(rs->field(i), data::engineTypeOf(type));
        }
        out.push_back(line);
    }
    return out;
}

}  // namespace vopa::testing
