#include "Helpers.h"

#include <array>
#include <string_view>

#include "platform/text/Text.h"

namespace vopa::util {
namespace {

bool matchesZeroDatePattern(std::string_view text) { return text.substr(0, 10) == "00/00/0000"; }

bool isEmptyText(const std::string& text) {
    static constexpr std::array<std::string_view, 11> kZeroTexts = {
        "0,00", "0,000", "0,0000", "0,00000", "0,000000", ",00", "0", "00", "000", "0000", "0:00:00"};
    if (text.empty() || text == " ") return true;
    for (std::string_view zero : kZeroTexts)
        if (text == zero) return true;
    return matchesZeroDatePattern(text);
}

}  // namespace

bool isEmptyValue(const Value& value) {
    using K = Value::Kind;
    switch (value.kind()) {
        case K::Empty:
        case K::Null: return true;
        case K::Integer:
        case K::Long:
        case K::BigInt:
        case K::Byte: return value.asInteger() == 0;
        case K::Single:
        case K::Double: return value.asDouble() == 0.0;
        case K::Currency: return value.asCurrency().tenThousandths == 0;
        case K::Decimal: return value.asDecimal().isZero();
        case K::Boolean: return !value.asBoolean();
        // A date equals the texts "0:00:00", "00:00:00" and "0.00.00" exactly when it is the zero
        // date-time; its own text never starts with "00/00/0000", and a date value is always valid.
        case K::Date: return value.asDate().millis == 0;
        case K::String: return isEmptyText(value.asString());
    }
    return true;
}

std::string& sanitise(std::string& text) {
    // The order is the one the suite has always used; "_" maps to itself and the apostrophe appears twice.
    static constexpr std::string_view kReplaced = " ,/\\'&@'\"-+_!=?^$#()[]*";
    for (char c : kReplaced)
        for (char& ch : text)
            if (ch == c) ch = '_';
    return text;
}

std::string literal(std::string_view text) { return text::enclosed(text, '\'', '\''); }

std::string unicodeLiteral(std::string_view text) { return "N" + literal(text); }

std::string identifier(std::string_view name) { return text::enclosed(name, '[', ']'); }

std::string likeLiteral(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '%' || c == '_' || c == '[') {
            escaped += '[';
            escaped += c;
            escaped += ']';
        } else {
            escaped += c;
        }
    }
    return literal(escaped);
}

std::string numberText(double value) { return Value::dbl(value).toString(); }

std::string dateLiteral(const DateTime& date) {
    return " CONVERT(DATETIME, '" + std::to_string(date.year()) + "-" + std::to_string(date.month()) + "-" +
           std::to_string(date.day()) + "', 102)  ";
}

}  // namespace vopa::util
