#pragma once
// How the query tool (and the engine's tests) print a value: as sqlcmd prints the server's types.
//   bit 1/0; money four decimals; decimal its scale; datetime "2000-12-31 00:00:00.000";
//   smalldatetime "2000-12-31 00:00:00"; date "2000-12-31"; NULL for a null.

#include <string>

#include "SqlType.h"
#include "platform/value/Value.h"

namespace vopa::engine {

std::string displayText(const Value& value, const SqlType& type);

}  // namespace vopa::engine
