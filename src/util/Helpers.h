#pragma once
// Small helpers every layer uses: the one notion of an "empty" entry, the name sanitiser and the SQL
// date literal.

#include <string>
#include <string_view>

#include "platform/value/Value.h"

namespace vopa::util {

// True when the value counts as nothing entered: empty or null; a number equal to 0; false; the zero
// date; an empty text, a single space, or one of the zero texts ("0,00", "0", "00:00:00", "00/00/0000..." ...).
bool isEmptyValue(const Value& value);

// Replaces blanks and the punctuation that names must not carry by "_", in place; returns the text.
std::string& sanitise(std::string& text);

// The only two ways a value read from a database, a file, the command line or the operator enters a
// statement: as a literal or as an identifier. Whatever the value holds, it stays data.

// 'text' with embedded quotes doubled; unicodeLiteral gives N'text'.
std::string literal(std::string_view text);
std::string unicodeLiteral(std::string_view text);

// [name] with embedded closing brackets doubled.
std::string identifier(std::string_view name);

// A literal for the right side of LIKE that matches `text` itself: the wildcards %, _ and [ are
// bracketed so that a name holding them matches only itself.
std::string likeLiteral(std::string_view text);

// A number as statements carry it: plain decimal form, no exponent ("3", "2.5").
std::string numberText(double value);

// " CONVERT(DATETIME, 'y-m-d', 102)  ": server text for the date (time of day dropped), no leading zeros.
std::string dateLiteral(const DateTime& date);

}  // namespace vopa::util
