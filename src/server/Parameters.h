#pragma once
// Parameters of sp_executesql and prepared statements bound as local variables: the definitions
// ("@a int, @b nvarchar(10) OUTPUT") are split into names and types, and each decoded value becomes a
// T-SQL literal of its own wire type, so that no value is ever read as statement text.

#include <string>
#include <vector>

#include "server/tds/Requests.h"

namespace vopa::server {

struct ParameterDefinition {
    std::string name;  // "@a"
    std::string type;  // "nvarchar(10)"
    bool output = false;
};

// Splits a definition list; throws engine::EngineError 102 for a definition that is not a variable
// name followed by a type.
std::vector<ParameterDefinition> parseDefinitions(const std::string& definitions);

// A T-SQL literal of a value decoded with its wire type: NULL, 12, 1.5E0, 12.50, N'it''s', 0x0A0B,
// '2024-01-31T10:20:30.000'. Throws engine::EngineError 8114 for a value that has no literal.
std::string sqlLiteral(const tds::TypeInfo& type, const Value& value);

// The statements that declare the variables and set them from the call's values (by name, or in the
// order of the definitions for unnamed ones), one per line; a variable that is not OUTPUT and has no
// value is 8178 as on the server. `matched` receives, for each definition, the index of its value in
// `values`, or -1.
std::string declarations(const std::vector<ParameterDefinition>& definitions,
                         const std::vector<tds::RpcParameter>& values, const std::string& statement,
                         std::vector<int>& matched);

}  // namespace vopa::server
