#pragma once
// Text helpers shared by every layer: the suite's files are Windows-1252, the program works in UTF-8,
// and names (files, tables, columns) compare case-insensitively as Windows and SQL Server do.

#include <string>
#include <string_view>

namespace vopa::text {

// Windows-1252 bytes -> UTF-8. Bytes without a character in the code page (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// pass through as the C1 control of the same number, as Windows does.
std::string fromWindows1252(std::string_view bytes);

// UTF-8 -> Windows-1252. Characters the code page cannot hold become '?', as a Windows text stream
// writes them. Malformed UTF-8 bytes are taken as Windows-1252 bytes already.
std::string toWindows1252(std::string_view utf8);

// Decodes one code point at `pos` and advances it; malformed input yields the byte's Latin-1 value.
char32_t nextCodePoint(std::string_view utf8, std::size_t& pos);
void appendUtf8(std::string& out, char32_t cp);

// Upper-case mapping for ASCII, Latin-1 and Latin Extended-A letters (the letters of the suite's
// languages); other code points are returned unchanged.
char32_t foldCase(char32_t cp);

// Case-insensitive comparison of two UTF-8 texts by code points folded to lower case: <0, 0, >0.
int compareNoCase(std::string_view a, std::string_view b);
inline bool equalsNoCase(std::string_view a, std::string_view b) { return compareNoCase(a, b) == 0; }

std::string toUpper(std::string_view utf8);
std::string toLower(std::string_view utf8);

// Number of characters (code points) of a UTF-8 text.
std::size_t lengthInChars(std::string_view utf8);

// `open` + text + `close`, with every `close` inside doubled: how T-SQL writes a value as a literal
// ('it''s') or a name as an identifier ([a]]b]) so that whatever it holds stays data.
std::string enclosed(std::string_view text, char open, char close);

}  // namespace vopa::text
