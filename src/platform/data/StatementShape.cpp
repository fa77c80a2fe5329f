#include "StatementShape.h"

#include <cctype>
#include <cstddef>
#include <vector>

#include "platform/text/Text.h"

namespace vopa::data {
namespace {

struct Token {
    enum class Kind { Word, Name, Symbol, Literal };
    Kind kind;
    std::string text;  // a word as written, a name without its delimiters, a symbol's character
    int depth;         // parentheses open before it
};

bool isWordChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

// The statement's tokens; false when a string, a delimited name or a comment is not closed, or a
// parenthesis does not match.
bool tokenize(std::string_view s, std::vector<Token>& out) {
    int depth = 0;
    std::size_t i = 0;
    // Text up to `close`, a doubled `close` standing for one.
    auto delimited = [&](char close, std::string& into) {
        for (++i; i < s.size(); ++i) {
            if (s[i] != close) {
                into.push_back(s[i]);
            } else if (i + 1 < s.size() && s[i + 1] == close) {
                into.push_back(close);
                ++i;
            } else {
                ++i;
                return true;
            }
        }
        return false;
    };
    while (i < s.size()) {
        const char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const std::size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos) return false;
            i = end + 2;
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'')) {
            if (c != '\'') ++i;
            std::string text;
            if (!delimited('\'', text)) return false;
            out.push_back({Token::Kind::Literal, text, depth});
        } else if (c == '[' || c == '"') {
            std::string text;
            if (!delimited(c == '[' ? ']' : '"', text)) return false;
            out.push_back({Token::Kind::Name, text, depth});
        } else if (isWordChar(c)) {
            const std::size_t start = i;
            while (i < s.size() && isWordChar(s[i])) ++i;
            out.push_back({Token::Kind::Word, std::string(s.substr(start, i - start)), depth});
        } else {
            if (c == ')' && --depth < 0) return false;
            out.push_back({Token::Kind::Symbol, std::string(1, c), depth});
            if (c == '(') ++depth;
            ++i;
        }
    }
    return depth == 0;
}

bool isWord(const Token& t, const char* word) {
    return t.kind == Token::Kind::Word && text::equalsNoCase(t.text, word);
}

bool isSymbol(const Token& t, char c) {
    return t.kind == Token::Kind::Symbol && t.text.size() == 1 && t.text[0] == c;
}

// Words after the table that mean it is not read alone.
bool endsSingleTable(const Token& t) {
    for (const char* w : {"JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "OUTER", "APPLY", "GROUP", "UNION",
                          "EXCEPT", "INTERSECT", "INTO", "PIVOT", "UNPIVOT", "TABLESAMPLE"})
        if (isWord(t, w)) return true;
    return isSymbol(t, ',');
}

}  // namespace

std::string singleTableOf(std::string_view statement) {
    std::vector<Token> tokens;
    if (!tokenize(statement, tokens)) return {};
    while (!tokens.empty() && isSymbol(tokens.back(), ';')) tokens.pop_back();
    if (tokens.empty() || !isWord(tokens.front(), "SELECT")) return {};
    if (tokens.size() > 1 && isWord(tokens[1], "DISTINCT")) return {};

    // Everything at the outer level: one statement, no INTO, UNION or GROUP BY, and one FROM.
    std::size_t from = 0;
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.depth != 0) continue;
        if (isSymbol(t, ';')) return {};
        if (from == 0 && (isWord(t, "INTO") || isWord(t, "UNION") || isWord(t, "EXCEPT") || isWord(t, "INTERSECT")))
            return {};
        if (from == 0 && isWord(t, "FROM")) from = k;
    }
    if (from == 0) return {};

    // The table's dotted name.
    std::size_t k = from + 1;
    std::string last;
    for (;;) {
        if (k >= tokens.size() || tokens[k].kind == Token::Kind::Symbol || tokens[k].kind == Token::Kind::Literal)
            return {};
        last = tokens[k].text;
        ++k;
        if (k < tokens.size() && isSymbol(tokens[k], '.')) {
            ++k;
            continue;
        }
        break;
    }
    if (k < tokens.size() && isSymbol(tokens[k], '(')) return {};  // a function's rows, not a table's

    // What follows at the outer level must not add a table, a grouping or a second query.
    for (; k < tokens.size(); ++k) {
        const Token& t = tokens[k];
        if (t.depth == 0 && endsSingleTable(t)) return {};
    }
    return last;
}

}  // namespace vopa::data
