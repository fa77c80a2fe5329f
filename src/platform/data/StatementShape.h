#pragma once
// What a provider that sends statements to another server needs to know of a statement's shape, found
// by scanning its words (strings, bracketed and quoted names and comments skipped whole), without
// parsing the statement as the engine does.

#include <string>
#include <string_view>

namespace vopa::data {

// The table a statement reads when it is one plain single-table query: one SELECT (a closing ";"
// allowed) without DISTINCT, INTO, UNION/EXCEPT/INTERSECT, GROUP BY, a join or a derived table, reading
// one table named in FROM (the last part of a dotted name, without its brackets or quotes). Empty
// otherwise.
std::string singleTableOf(std::string_view statement);

}  // namespace vopa::data
