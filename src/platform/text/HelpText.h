#pragma once
// A program's help source (help.txt beside its main.cpp) holds its --help text and the rest of its
// manual page: a first line "# NAME - what it does", the --help text, then sections "## TITLE" that only
// the manual has (tools/manpage turns the whole file into the page at build time). The program embeds the
// file (vopa_embed_text) and prints helpText() of it, so that the help and the page cannot drift apart.

#include <string>
#include <string_view>

namespace vopa::text {

// Where the --help text of a help source begins (after the first line) and ends (at the first "## "
// section, or at the end).
inline std::size_t helpBegin(std::string_view source) {
    const std::size_t lineEnd = source.find('\n');
    return lineEnd == std::string_view::npos ? source.size() : lineEnd + 1;
}
inline std::size_t helpEnd(std::string_view source) {
    for (std::size_t at = helpBegin(source); at < source.size();) {
        if (source.substr(at, 3) == "## ") return at;
        const std::size_t next = source.find('\n', at);
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    return source.size();
}

// The --help text of a help source, with one line end at the end.
inline std::string helpText(std::string_view source) {
    const std::size_t begin = helpBegin(source);
    std::string text(source.substr(begin, helpEnd(source) - begin));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text + "\n";
}

}  // namespace vopa::text
