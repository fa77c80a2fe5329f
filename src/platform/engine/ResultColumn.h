#pragma once
// A column of a result: what a query gives, as the translator types it and a recordset shows it.

#include <string>

#include "SqlType.h"

namespace vopa::engine {

struct ResultColumn {
    std::string name;
    SqlType type;
    bool nullable = true;
    int baseColumnId = 0;  // the column of the base table it reads, 0 when computed
};

}  // namespace vopa::engine
