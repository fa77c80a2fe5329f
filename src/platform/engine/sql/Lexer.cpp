#include "Lexer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <array>

#include "platform/text/Text.h"

namespace vopa::engine::sql {
namespace {

// SQL Server's messages for text that cannot be split into tokens.
constexpr int kUnclosedQuotation = 105;  // Unclosed quotation mark after the character string '%s'.
constexpr int kMissingEndComment = 113;  // Missing end comment mark '*/'.
constexpr std::size_t kMaxNameLength = 128;

// The reserved words of Transact-SQL, sorted for binary search. A reserved word can be used as a name
// only when it is bracketed or double-quoted.
// clang-format off
constexpr std::array<std::string_view, 185> kReserved = {
    "ADD", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "AUTHORIZATION", "BACKUP", "BEGIN", "BETWEEN", "BREAK",
    "BROWSE", "BULK", "BY", "CASCADE", "CASE", "CHECK", "CHECKPOINT", "CLOSE", "CLUSTERED", "COALESCE",
    "COLLATE", "COLUMN", "COMMIT", "COMPUTE", "CONSTRAINT", "CONTAINS", "CONTAINSTABLE", "CONTINUE", "CONVERT",
    "CREATE", "CROSS", "CURRENT", "CURRENT_DATE", "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR",
    "DATABASE", "DBCC", "DEALLOCATE", "DECLARE", "DEFAULT", "DELETE", "DENY", "DESC", "DISK", "DISTINCT",
    "DISTRIBUTED", "DOUBLE", "DROP", "DUMP", "ELSE", "END", "ERRLVL", "ESCAPE", "EXCEPT", "EXEC", "EXECUTE",
    "EXISTS", "EXIT", "EXTERNAL", "FETCH", "FILE", "FILLFACTOR", "FOR", "FOREIGN", "FREETEXT", "FREETEXTTABLE",
    "FROM", "FULL", "FUNCTION", "GOTO", "GRANT", "GROUP", "HAVING", "HOLDLOCK", "IDENTITY", "IDENTITYCOL",
    "IDENTITY_INSERT", "IF", "IN", "INDEX", "INNER", "INSERT", "INTERSECT", "INTO", "IS", "JOIN", "KEY", "KILL",
    "LEFT", "LIKE", "LINENO", "LOAD", "MERGE", "NATIONAL", "NOCHECK", "NONCLUSTERED", "NOT", "NULL", "NULLIF",
    "OF", "OFF", "OFFSETS", "ON", "OPEN", "OPENDATASOURCE", "OPENQUERY", "OPENROWSET", "OPENXML", "OPTION",
    "OR", "ORDER", "OUTER", "OVER", "PERCENT", "PIVOT", "PLAN", "PRECISION", "PRIMARY", "PRINT", "PROC",
    "PROCEDURE", "PUBLIC", "RAISERROR", "READ", "READTEXT", "RECONFIGURE", "REFERENCES", "REPLICATION",
    "RESTORE", "RESTRICT", "RETURN", "REVERT", "REVOKE", "RIGHT", "ROLLBACK", "ROWCOUNT", "ROWGUIDCOL", "RULE",
    "SAVE", "SCHEMA", "SECURITYAUDIT", "SELECT", "SEMANTICKEYPHRASETABLE", "SEMANTICSIMILARITYDETAILSTABLE",
    "SEMANTICSIMILARITYTABLE", "SESSION_USER", "SET", "SETUSER", "SHUTDOWN", "SOME", "STATISTICS",
    "SYSTEM_USER", "TABLE", "TABLESAMPLE", "TEXTSIZE", "THEN", "TO", "TOP", "TRAN", "TRANSACTION", "TRIGGER",
    "TRUNCATE", "TRY_CONVERT", "TSEQUAL", "UNION", "UNIQUE", "UNPIVOT", "UPDATE", "UPDATETEXT", "USE", "USER",
    "VALUES", "VARYING", "VIEW", "WAITFOR", "WHEN", "WHERE", "WHILE", "WITH", "WITHIN", "WRITETEXT",
};
// clang-format on

static_assert(std::is_sorted(kReserved.begin(), kReserved.end()));

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Bytes of multi-byte UTF-8 sequences count as letters: names carry à, è, ù ...
bool isIdentStart(unsigned char c) {
    return isAsciiLetter(c) || c == '_' || c == '#' || c >= 0x80;
}
bool isIdentPart(unsigned char c) {
    return isIdentStart(c) || isDigit(c) || c == '@' || c == '$';
}

std::string asciiUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

class Lexer {
public:
    explicit Lexer(std::string_view s) : s_(s) {}

    std::vector<Token> run() {
        while (skipBlanksAndComments() && i_ < s_.size()) {
            if (!next()) break;  // an Error token ends the text
        }
        Token end;
        end.kind = TokenKind::End;
        end.offset = end.end = s_.size();
        out_.push_back(std::move(end));
        return std::move(out_);
    }

private:
    unsigned char at(std::size_t k) const { return k < s_.size() ? static_cast<unsigned char>(s_[k]) : 0; }

    // Skips whitespace and comments; false when an unterminated comment was turned into an Error token.
    bool skipBlanksAndComments() {
        while (i_ < s_.size()) {
            unsigned char c = at(i_);
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0) {
                ++i_;
            } else if (c == 0xEF && at(i_ + 1) == 0xBB && at(i_ + 2) == 0xBF) {
                i_ += 3;  // byte order mark
            } else if (c == '-' && at(i_ + 1) == '-') {
                while (i_ < s_.size() && at(i_) != '\n' && at(i_) != '\r') ++i_;
            } else if (c == '/' && at(i_ + 1) == '*') {
                // Block comments nest, as in SQL Server.
                std::size_t start = i_;
                int depth = 0;
                while (i_ < s_.size()) {
                    if (at(i_) == '/' && at(i_ + 1) == '*') {
                        ++depth;
                        i_ += 2;
                    } else if (at(i_) == '*' && at(i_ + 1) == '/') {
                        i_ += 2;
                        if (--depth == 0) break;
                    } else {
                        ++i_;
                    }
                }
                if (depth > 0) {
                    error(start, kMissingEndComment, "Missing end comment mark '*/'.");
                    return false;
                }
            } else {
                return true;
            }
        }
        return true;
    }

    void error(std::size_t start, int number, std::string message) {
        Token t;
        t.kind = TokenKind::Error;
        t.offset = start;
        t.end = s_.size();
        t.text = std::move(message);
        t.errorNumber = number;
        out_.push_back(std::move(t));
        i_ = s_.size();
    }

    void push(TokenKind kind, std::size_t start, std::string text) {
        Token t;
        t.kind = kind;
        t.offset = start;
        t.end = i_;
        t.text = std::move(text);
        out_.push_back(std::move(t));
    }

    // Reads text closed by `close`, where a doubled `close` stands for one; i_ is just after the opener.
    // False (and an Error token) when the text runs to the end of the batch.
    bool readQuoted(std::size_t start, char close, std::string& value) {
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == close) {
                if (i_ + 1 < s_.size() && s_[i_ + 1] == close) {
                    value += close;
                    i_ += 2;
                    continue;
                }
                ++i_;
                return true;
            }
            value += c;
            ++i_;
        }
        error(start, kUnclosedQuotation, "Unclosed quotation mark after the character string '" + value + "'.");
        return false;
    }

    // Names have at most 128 characters (103).
    bool nameLengthOk(std::size_t start, const std::string& name) {
        if (text::lengthInChars(name) <= kMaxNameLength) return true;
        std::size_t cut = 0;
        for (std::size_t n = 0; n < kMaxNameLength; ++n) text::nextCodePoint(name, cut);
        error(start, 103, "The identifier that starts with '" + name.substr(0, cut) +
                              "' is too long. Maximum length is 128.");
        return false;
    }

    bool next() {
        std::size_t start = i_;
        unsigned char c = at(i_);
        unsigned char c1 = at(i_ + 1);
        std::string value;

        if (c == '[' || c == '"') {
            ++i_;
            if (!readQuoted(start, c == '[' ? ']' : '"', value)) return false;
            if (value.empty()) {
                error(start, 1038, "An object or column name is missing or empty. For SELECT INTO statements, verify "
                                   "each column has a name. For other statements, look for empty alias names. "
                                   "Aliases defined as \"\" or [] are not allowed. Change the alias to a valid name.");
                return false;
            }
            if (!nameLengthOk(start, value)) return false;
            push(TokenKind::QuotedIdentifier, start, std::move(value));
        } else if (c == '\'' || ((c == 'N' || c == 'n') && c1 == '\'')) {
            bool national = c != '\'';
            i_ += national ? 2 : 1;
            if (!readQuoted(start, '\'', value)) return false;
            push(national ? TokenKind::NString : TokenKind::String, start, std::move(value));
        } else if (c == '0' && (c1 == 'x' || c1 == 'X')) {
            i_ += 2;
            while (isHexDigit(at(i_))) ++i_;
            push(TokenKind::Binary, start, std::string(s_.substr(start + 2, i_ - start - 2)));
        } else if (isDigit(c) || (c == '.' && isDigit(c1))) {
            TokenKind kind = readNumber();
            std::string text(s_.substr(start, i_ - start));
            // A float literal beyond a double's range is refused when the batch is read, as the server does.
            if (kind == TokenKind::Float && !std::isfinite(std::strtod(text.c_str(), nullptr))) {
                error(start, 168, "The floating point value '" + text +
                                      "' is out of the range of computer representation (8 bytes).");
                return false;
            }
            push(kind, start, std::move(text));
        } else if (c == '$' && (isDigit(c1) || c1 == '.')) {
            ++i_;
            readNumber();
            push(TokenKind::Money, start, std::string(s_.substr(start + 1, i_ - start - 1)));
        } else if (c == '$' && !isIdentStart(c1)) {
            ++i_;  // a lone $ is the money value 0
            push(TokenKind::Money, start, "0");
        } else if (c == '@') {
            ++i_;
            if (at(i_) == '@') ++i_;
            while (i_ < s_.size() && isIdentPart(at(i_))) ++i_;
            push(TokenKind::Variable, start, std::string(s_.substr(start, i_ - start)));
        } else if (isIdentStart(c) || c == '$') {
            ++i_;
            while (i_ < s_.size() && isIdentPart(at(i_))) ++i_;
            std::string word(s_.substr(start, i_ - start));
            if (!nameLengthOk(start, word)) return false;
            std::string upper = asciiUpper(word);
            bool reserved = isReservedWord(upper);
            push(reserved ? TokenKind::Keyword : TokenKind::Identifier, start, std::move(word));
            out_.back().upper = std::move(upper);
        } else {
            readOperator(start);
        }
        return true;
    }

    // Digits [. digits] [e [+|-] digits]; i_ is at the first digit or point.
    TokenKind readNumber() {
        TokenKind kind = TokenKind::Integer;
        while (isDigit(at(i_))) ++i_;
        if (at(i_) == '.') {
            kind = TokenKind::Decimal;
            ++i_;
            while (isDigit(at(i_))) ++i_;
        }
        unsigned char e = at(i_);
        if (e == 'e' || e == 'E') {
            std::size_t k = i_ + 1;
            if (at(k) == '+' || at(k) == '-') ++k;
            if (isDigit(at(k))) {
                i_ = k;
                while (isDigit(at(i_))) ++i_;
                kind = TokenKind::Float;
            }
        }
        return kind;
    }

    void readOperator(std::size_t start) {
        static constexpr std::array<std::string_view, 14> kTwoChar = {
            "<=", ">=", "<>", "!=", "!<", "!>", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=",
        };
        std::string_view two = s_.substr(start, 2);
        if (two.size() == 2 && std::find(kTwoChar.begin(), kTwoChar.end(), two) != kTwoChar.end()) {
            i_ += 2;
            push(TokenKind::Operator, start, std::string(two));
            return;
        }
        static constexpr std::string_view kSingle = "+-*/%&|^~=<>(),.;:!";
        ++i_;
        push(kSingle.find(s_[start]) != std::string_view::npos ? TokenKind::Operator : TokenKind::Invalid, start,
             std::string(1, s_[start]));
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::vector<Token> out_;
};

}  // namespace

bool isReservedWord(std::string_view upperWord) {
    return std::binary_search(kReserved.begin(), kReserved.end(), upperWord);
}

std::vector<Token> tokenize(std::string_view batch) {
    return Lexer(batch).run();
}

}  // namespace vopa::engine::sql
