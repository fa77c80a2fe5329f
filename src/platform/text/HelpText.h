#pragma once
// A program's help source (help.txt beside its main.cpp) holds its --help text and the rest of its
// manual page: a first line "# NAME - what it does", the --help text, then sections "## TITLE" that only
// the manual has (tools/manpage turns the whole file into the page at build time). The program embeds the
// file (vopa_embed_text) and prints helpText() of it, so that the help and the page cannot drift apart.

#include <string>
#include <string_view>

namespace vopa::text {

// The --help text of a help source: the lines after the first, up to the first "## " section, with one
// line end at the end.
inline std::string helpText(std::string_view source) {
    std::size_t start = source.find('\n');
    start = start == std::string_view::npos ? source.size() : start + 1;
    std::size_t end = source.size();
    for (std::size_t at = start; at < source.size();) {
        if (source.substr(at, 3) == "## ") {
            end = at;
            break;
        }
        const std::size_t next = source.find('\n', at);
        if (next == std::string_view::npos) break;
        at = next + 1;
    }
    std::string text(source.substr(start, end - start));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text + "\n";
}

}  // namespace vopa::text
