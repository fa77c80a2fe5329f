#pragma once
// Splits a T-SQL batch into tokens, each with its byte offset in the batch. Comments and whitespace are
// dropped. Reserved words of SQL Server come out as keywords; every other word is an identifier, so
// words such as NAME, SIZE, TYPE or DATE stay usable as column names and the parser recognises them by
// position. A lexical fault (an unclosed string or comment) becomes a final Error token, so the parser
// reports it only when it gets there, after any syntax error earlier in the text.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vopa::engine::sql {

enum class TokenKind {
    End,               // after the last token; offset = length of the batch
    Identifier,        // plain word: text as written, upper = ASCII upper case
    QuotedIdentifier,  // [name] or "name": text = the name with ]] / "" unescaped
    Keyword,           // reserved word: text as written, upper = canonical spelling
    Integer,           // 123
    Decimal,           // 1.50, .5, 1.
    Float,             // 1e3, 2.5E-2
    Money,             // $12.50: text without the $ sign
    String,            // 'it''s': text = it's
    NString,           // N'...'
    Binary,            // 0x1F: text = 1F
    Variable,          // @name, @@name: text with the @ signs
    Operator,          // + - * / % & | ^ ~ = < > <= >= <> != !< !> += -= ... ( ) , . ; :
    Invalid,           // a character that cannot start any token
    Error,             // lexical fault: text = message, errorNumber = SQL Server's number
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::size_t offset = 0;  // first byte in the batch
    std::size_t end = 0;     // one past the last byte
    std::string text;
    std::string upper;
    int errorNumber = 0;
};

// True when `upperWord` (in upper case) is a reserved word of SQL Server.
bool isReservedWord(std::string_view upperWord);

// Tokens of the batch, always ending with one End token (or an Error token followed by End).
std::vector<Token> tokenize(std::string_view batch);

}  // namespace vopa::engine::sql
