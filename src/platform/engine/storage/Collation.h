#pragma once
// The server's default text collation: case-insensitive, accent-sensitive, trailing blanks ignored.
//
// Texts compare in two passes, as a Windows collation does: first by their characters' primary weights
// (blanks and punctuation before digits, digits before letters, an accented letter weighing as its base
// letter, so "Àbaco" sorts beside "abaco" and before "Zeta"), and only when those are equal by their
// accents ("abaco" < "àbaco"). Case never counts. Every text comparison, sort, key and LIKE range of the
// engine uses this one order.

#include <string_view>

namespace vopa::engine::storage {

// <0, 0, >0.
int collate(std::string_view a, std::string_view b);

// The same order for single characters (LIKE ranges such as [a-f]).
int collateChars(char32_t a, char32_t b);

}  // namespace vopa::engine::storage
