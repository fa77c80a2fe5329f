#include "server/Parameters.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::server {

namespace {

std::string trim(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return std::string(s.substr(a, b - a));
}

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' || c == '$'; }

[[noreturn]] void syntaxNear(const std::string& near) {
    throw engine::EngineError(engine::err::SyntaxNear, "Incorrect syntax near '" + near + "'.", 15);
}

std::string quoted(const std::string& s) { return "N" + text::enclosed(s, '\'', '\''); }

std::string hexLiteral(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out = "0x";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string floatLiteral(double d) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    std::string s(buffer, ec == std::errc() ? end : buffer);
    if (s.find_first_of("eE") == std::string::npos) s += "E0";
    return s;
}

std::string dateLiteral(const DateTime& d) {
    char buffer[40];
    if (d == d.dateOnly())
        std::snprintf(buffer, sizeof buffer, "'%04d%02d%02d'", d.year(), d.month(), d.day());
    else
        std::snprintf(buffer, sizeof buffer, "'%04d-%02d-%02dT%02d:%02d:%02d.%03d'", d.year(), d.month(), d.day(), d.hour(),
                      d.minute(), d.second(), d.millisecond());
    return buffer;
}

// Drivers declare date and time parameters with the types of later servers; the engine's nearest type
// holds their values (datetime2's extra digits of the second are rounded as datetime rounds them).
std::string engineType(const std::string& type) {
    std::size_t end = 0;
    while (end < type.size() && (std::isalnum(static_cast<unsigned char>(type[end])) || type[end] == '_')) ++end;
    const std::string base = type.substr(0, end);
    if (text::equalsNoCase(base, "datetime2") || text::equalsNoCase(base, "datetimeoffset")) return "datetime";
    if (text::equalsNoCase(base, "time")) return "datetime";
    return type;
}

}  // namespace

std::vector<ParameterDefinition> parseDefinitions(const std::string& definitions) {
    std::vector<ParameterDefinition> out;
    std::vector<std::string> parts;
    int depth = 0;
    std::string current;
    for (char c : definitions) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!trim(current).empty() || !parts.empty()) parts.push_back(current);
    for (const std::string& raw : parts) {
        const std::string part = trim(raw);
        std::size_t i = 0;
        while (i < part.size() && isNameChar(part[i])) ++i;
        ParameterDefinition d;
        d.name = part.substr(0, i);
        if (d.name.size() < 2 || d.name[0] != '@') syntaxNear(part.empty() ? "," : part);
        std::string type = trim(std::string_view(part).substr(i));
        // A trailing OUTPUT (or OUT) marks an output parameter.
        for (const char* word : {"OUTPUT", "OUT"}) {
            const std::size_t n = std::string_view(word).size();
            if (type.size() > n && text::equalsNoCase(std::string_view(type).substr(type.size() - n), word) &&
                std::isspace(static_cast<unsigned char>(type[type.size() - n - 1]))) {
                type = trim(std::string_view(type).substr(0, type.size() - n));
                d.output = true;
                break;
            }
        }
        // A type is a name with an optional length or precision: nothing else may enter the text.
        if (type.empty()) syntaxNear(d.name);
        for (char c : type)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '(' && c != ')' && c != ',' && c != ' ')
                syntaxNear(type);
        d.type = engineType(type);
        out.push_back(std::move(d));
    }
    return out;
}

std::string sqlLiteral(const tds::TypeInfo& type, const Value& v) {
    using tds::TypeId;
    if (tds::isNullValue(v)) return "NULL";
    switch (v.kind()) {
    case Value::Kind::Boolean: return v.asBoolean() ? "1" : "0";
    case Value::Kind::Byte: case Value::Kind::Integer: case Value::Kind::Long: case Value::Kind::BigInt:
        return std::to_string(v.asInteger());
    case Value::Kind::Single: case Value::Kind::Double: return floatLiteral(v.asDouble());
    case Value::Kind::Currency: case Value::Kind::Decimal: return v.toString();
    case Value::Kind::Date: return dateLiteral(v.asDate());
    case Value::Kind::String:
        switch (type.type) {
        case TypeId::BigBinary: case TypeId::BigVarBinary: case TypeId::Binary: case TypeId::VarBinary:
        case TypeId::Image:
            return hexLiteral(v.asString());
        default:
            return quoted(v.asString());
        }
    default:
        throw engine::EngineError(engine::err::NumericConversionFailed, "Error converting data type " + v.toString() + ".");
    }
}

std::string declarations(const std::vector<ParameterDefinition>& definitions,
                         const std::vector<tds::RpcParameter>& values, const std::string& statement,
                         std::vector<int>& matched) {
    std::string out;
    matched.clear();
    std::size_t positional = 0;
    for (const ParameterDefinition& d : definitions) {
        int index = -1;
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!values[i].name.empty() && text::equalsNoCase(values[i].name, d.name)) index = static_cast<int>(i);
        if (index < 0) {
            while (positional < values.size() && !values[positional].name.empty()) ++positional;
            if (positional < values.size()) index = static_cast<int>(positional++);
        }
        matched.push_back(index);
        const tds::RpcParameter* value = index < 0 ? nullptr : &values[static_cast<std::size_t>(index)];
        if (!value && !d.output) {
            std::string list;
            for (const ParameterDefinition& e : definitions) list += (list.empty() ? "" : ",") + e.name + " " + e.type;
            throw engine::EngineError(8178, "The parameterized query '(" + list + ")" + statement.substr(0, 100) +
                                                "' expects the parameter '" + d.name + "', which was not supplied.");
        }
        out += "DECLARE " + d.name + " " + d.type;
        if (value && !tds::isNullValue(value->value)) out += " = " + sqlLiteral(value->type, value->value);
        out += ";\n";
    }
    return out;
}

}  // namespace vopa::server
