#pragma once
// The parser's inside, shared by its parts (one per statement family): the token helpers and the
// Parser class. Only the parser's own files include it; everyone else uses Parser.h.

#include <charconv>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ast.h"
#include "Lexer.h"
#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine::sql::detail {

// SQL Server's numbers for the few faults that are not plain syntax errors.
constexpr int kCreateViewNotFirst = 111;   // 'CREATE VIEW' must be the first statement in a query batch.
constexpr int kDropIndexNeedsTable = 159;  // Must specify the table name and index name for DROP INDEX.
constexpr int kNestedTooDeeply = 191;      // Some part of your SQL statement is nested too deeply.

// Limits that keep the parser (and whoever walks the tree) off the end of the stack. Nesting counts
// parentheses, subqueries, nested statements and prefix operators; a chain is a run of left-associative
// binary operators, joins or UNIONs, each of which makes the tree one level deeper.
constexpr int kMaxNesting = 128;
constexpr int kMaxChain = 2048;

using Kind = Expr::Kind;
using LiteralKind = Expr::LiteralKind;

inline bool isKw(const Token& t, std::string_view kw) {
    return t.kind == TokenKind::Keyword && t.upper == kw;
}
inline bool isWord(const Token& t, std::string_view w) {
    return t.kind == TokenKind::Identifier && t.upper == w;
}
inline bool isOp(const Token& t, std::string_view op) {
    return t.kind == TokenKind::Operator && t.text == op;
}
inline bool isName(const Token& t) {
    return t.kind == TokenKind::Identifier || t.kind == TokenKind::QuotedIdentifier;
}
inline bool isString(const Token& t) {
    return t.kind == TokenKind::String || t.kind == TokenKind::NString;
}
inline bool isNumber(const Token& t) {
    return t.kind == TokenKind::Integer || t.kind == TokenKind::Decimal || t.kind == TokenKind::Float ||
           t.kind == TokenKind::Money;
}
inline bool isLiteral(const Token& t) {
    return isNumber(t) || isString(t) || t.kind == TokenKind::Binary;
}

inline bool isKwOneOf(const Token& t, std::initializer_list<std::string_view> kws) {
    for (auto kw : kws)
        if (isKw(t, kw)) return true;
    return false;
}
inline bool isWordOneOf(const Token& t, std::initializer_list<std::string_view> words) {
    for (auto w : words)
        if (isWord(t, w)) return true;
    return false;
}

inline bool isComparison(const Token& t) {
    if (t.kind != TokenKind::Operator) return false;
    const std::string& s = t.text;
    return s == "=" || s == "<>" || s == "!=" || s == "<" || s == "<=" || s == ">" || s == ">=" || s == "!<" ||
           s == "!>";
}

inline bool isCompoundAssignment(const Token& t) {
    return t.kind == TokenKind::Operator && t.text.size() == 2 && t.text[1] == '=' &&
           std::string_view("+-*/%&|^").find(t.text[0]) != std::string_view::npos;
}

inline LiteralKind literalKindOf(TokenKind k) {
    switch (k) {
        case TokenKind::Integer:
            return LiteralKind::Integer;
        case TokenKind::Decimal:
            return LiteralKind::Decimal;
        case TokenKind::Float:
            return LiteralKind::Float;
        case TokenKind::Money:
            return LiteralKind::Money;
        case TokenKind::String:
            return LiteralKind::String;
        case TokenKind::NString:
            return LiteralKind::NString;
        case TokenKind::Binary:
            return LiteralKind::Binary;
        default:
            return LiteralKind::Null;
    }
}

inline ExprPtr makeExpr(Kind kind, std::size_t offset) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->offset = offset;
    return e;
}

inline ExprPtr makeBinary(std::string op, ExprPtr left, ExprPtr right) {
    auto e = makeExpr(Kind::Binary, left->offset);
    e->op = std::move(op);
    e->args.push_back(std::move(left));
    e->args.push_back(std::move(right));
    return e;
}

inline ExprPtr makeUnary(std::string op, ExprPtr operand, std::size_t offset) {
    auto e = makeExpr(Kind::Unary, offset);
    e->op = std::move(op);
    e->args.push_back(std::move(operand));
    return e;
}

inline ExprPtr makeColumn(QualifiedName name) {
    auto e = makeExpr(Kind::Column, name.offset);
    e->name = std::move(name);
    return e;
}

// Table hints that may be written in the old form without WITH: FROM t (NOLOCK).
inline bool isTableHintWord(const Token& t) {
    return isKw(t, "HOLDLOCK") ||
           isWordOneOf(t, {"NOLOCK", "READUNCOMMITTED", "READCOMMITTED", "REPEATABLEREAD", "SERIALIZABLE", "UPDLOCK",
                           "XLOCK", "ROWLOCK", "PAGLOCK", "TABLOCK", "TABLOCKX", "READPAST", "NOWAIT",
                           "READCOMMITTEDLOCK", "FASTFIRSTROW"});
}

// Index options that SQL Server 2000 scripts write without parentheses: WITH PAD_INDEX, FILLFACTOR = 90.
inline bool isLegacyIndexOption(const Token& t) {
    return isKw(t, "FILLFACTOR") ||
           isWordOneOf(t, {"PAD_INDEX", "IGNORE_DUP_KEY", "DROP_EXISTING", "STATISTICS_NORECOMPUTE", "SORT_IN_TEMPDB",
                           "ALLOW_DUP_ROW", "IGNORE_DUP_ROW"});
}

class Parser {
public:
    explicit Parser(std::string_view text) : src_(text), toks_(tokenize(text)) {}

    std::vector<StatementPtr> batch();
    ExprPtr expressionOnly();
    std::unique_ptr<SelectStmt> selectOnly();

private:
    // ---- guards -----------------------------------------------------------------------------------

    class Nesting {
    public:
        explicit Nesting(Parser& p) : p_(p) {
            if (++p_.nesting_ > kMaxNesting) {
                --p_.nesting_;
                p_.tooDeep();
            }
        }
        ~Nesting() { --p_.nesting_; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& p_;
    };

    class Chain {
    public:
        explicit Chain(Parser& p) : p_(p) {}
        ~Chain() { p_.chain_ -= count_; }
        Chain(const Chain&) = delete;
        Chain& operator=(const Chain&) = delete;
        void add() {
            ++count_;
            if (++p_.chain_ > kMaxChain) p_.tooDeep();
        }

    private:
        Parser& p_;
        int count_ = 0;
    };

    [[noreturn]] void tooDeep() {
        throw EngineError(kNestedTooDeeply,
                          "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
                          "down into smaller queries.");
    }

    // ---- tokens -----------------------------------------------------------------------------------

    const Token& cur() const { return toks_[pos_]; }
    const Token& peek(std::size_t n = 1) const {
        std::size_t i = pos_ + n;
        return toks_[i < toks_.size() ? i : toks_.size() - 1];
    }
    const Token& advance() {
        const Token& t = toks_[pos_];
        if (t.kind != TokenKind::End) {
            ++pos_;
            lastEnd_ = t.end;
        }
        return t;
    }

    bool atKw(std::string_view kw) const { return isKw(cur(), kw); }
    bool atOp(std::string_view op) const { return isOp(cur(), op); }
    bool atWord(std::string_view w) const { return isWord(cur(), w); }
    bool atName() const { return isName(cur()); }

    bool acceptKw(std::string_view kw) {
        if (!atKw(kw)) return false;
        advance();
        return true;
    }
    bool acceptOp(std::string_view op) {
        if (!atOp(op)) return false;
        advance();
        return true;
    }
    bool acceptWord(std::string_view w) {
        if (!atWord(w)) return false;
        advance();
        return true;
    }
    void expectKw(std::string_view kw) {
        if (!acceptKw(kw)) failHere();
    }
    void expectOp(std::string_view op) {
        if (!acceptOp(op)) failHere();
    }
    void expectWord(std::string_view w) {
        if (!acceptWord(w)) failHere();
    }

    std::string slice(std::size_t from, std::size_t to) const { return std::string(src_.substr(from, to - from)); }

    // ---- errors -----------------------------------------------------------------------------------

    // The token as SQL Server names it in a message: names without brackets, strings without quotes,
    // everything else as written.
    std::string display(const Token& t) const {
        switch (t.kind) {
            case TokenKind::Identifier:
            case TokenKind::QuotedIdentifier:
            case TokenKind::String:
            case TokenKind::NString:
            case TokenKind::Variable:
            case TokenKind::Operator:
            case TokenKind::Invalid:
                return t.text;
            default:
                return slice(t.offset, t.end);
        }
    }

    [[noreturn]] void fail(const Token& t) const {
        if (t.kind == TokenKind::Error) throw EngineError(t.errorNumber, t.text);
        if (t.kind == TokenKind::End) {
            std::string last = toks_.size() >= 2 ? display(toks_[toks_.size() - 2]) : std::string();
            throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + last + "'.");
        }
        if (t.kind == TokenKind::Keyword)
            throw EngineError(err::SyntaxNearKeyword, "Incorrect syntax near the keyword '" + display(t) + "'.");
        throw EngineError(err::SyntaxNear, "Incorrect syntax near '" + display(t) + "'.");
    }
    [[noreturn]] void failHere() const { fail(cur()); }

    [[noreturn]] static void notSupported(const std::string& what) {
        throw EngineError(err::NotSupported, "The embedded engine does not support " + what + ".");
    }

    // ---- names ------------------------------------------------------------------------------------

    std::string name();

    // a.b.c, [a].[b].[c], db..t (the missing schema becomes an empty part).
    QualifiedName qualifiedName();
    std::vector<std::string> nameList();
    std::string nameOrString();
    int integer();
    std::int64_t signedInteger();

    // ---- statements -------------------------------------------------------------------------------

    StatementPtr statement(bool batchStart);
    StatementPtr keywordStatement(bool batchStart);
    StatementPtr selectStatement();

    // ---- SELECT -----------------------------------------------------------------------------------

    // query := term { (UNION [ALL] | EXCEPT | INTERSECT) term } [ORDER BY ...]; term := SELECT ... | ( query )
    std::unique_ptr<SelectStmt> query();
    std::unique_ptr<SelectStmt> queryTerm();

    // True when the "(" at the cursor opens a query: "(SELECT", "((SELECT" ...
    bool parenStartsQuery() const;
    std::unique_ptr<SelectStmt> selectCore();

    // TOP (expr), or TOP n with a bare number where SQL Server allows it (SELECT only).
    ExprPtr topValue(bool bareAllowed);

    // True when the cursor is at "*" qualified by names: t.*, dbo.t.*, db..t.*
    bool qualifiedStarAhead() const;
    SelectItem selectItem();

    // ---- FROM -------------------------------------------------------------------------------------

    std::vector<TableRefPtr> tableList();
    TableRefPtr tableSource();
    bool atJoin() const;
    void rejectJoinHint() const;
    TableRefPtr joins(TableRefPtr left);
    TableRefPtr tablePrimary();
    bool oldStyleHintAhead() const;

    // ( NOLOCK, INDEX(ix), ... ): hint words in upper case.
    std::vector<std::string> hintList();

    // ---- expressions ------------------------------------------------------------------------------
    // Precedence, loosest first: OR; AND; NOT; comparisons and IN/BETWEEN/LIKE/IS; + - & | ^ (and a
    // leading sign); * / %; ~ and signs inside operands.

    ExprPtr expr();
    ExprPtr orExpr();
    ExprPtr andExpr();
    ExprPtr notExpr();
    ExprPtr predicate();
    bool atAdditiveOp() const;
    ExprPtr additive();
    ExprPtr multiplicative();
    ExprPtr unary();
    ExprPtr primary();
    ExprPtr keywordPrimary();
    ExprPtr parenthesized();
    ExprPtr functionCall(QualifiedName name);
    ExprPtr castExpr();
    ExprPtr convertExpr();
    ExprPtr caseExpr();
    ExprPtr existsExpr();

    // ---- data types -------------------------------------------------------------------------------

    static bool takesPrecision(const std::string& type);
    static bool takesFractionalSeconds(const std::string& type);
    TypeName typeName();

    // ---- INSERT / UPDATE / DELETE -----------------------------------------------------------------

    // WITH (TABLOCK) and the like on the target of a change: locking only, accepted and dropped.
    void skipTargetHints();
    StatementPtr insertStatement();

    // UPDATE TOP (n) / DELETE TOP (n): parentheses required, no PERCENT in the tree.
    ExprPtr changeTop();
    ExprPtr whereOfChange();
    StatementPtr updateStatement();
    Assignment assignment();
    StatementPtr deleteStatement();
    StatementPtr truncateStatement();

    // ---- CREATE / ALTER / DROP --------------------------------------------------------------------

    StatementPtr createStatement(bool batchStart);
    StatementPtr alterStatement();
    StatementPtr dropStatement();
    bool ifExists();
    StatementPtr dropIndex();
    StatementPtr createTable();

    // ON [PRIMARY], ON PRIMARY, ON fg: the filegroup name.
    std::string filegroup();

    // A column definition: name type, then its attributes in any order.
    ColumnDef columnDef();
    void notForReplication();
    std::optional<bool> clustered();

    // PRIMARY KEY / UNIQUE / REFERENCES / CHECK written after a column: it applies to that column.
    TableConstraint columnConstraint(std::string name, std::size_t offset, const std::string& column);
    bool atTableConstraint(bool allowDefault) const;

    // [CONSTRAINT n] PRIMARY KEY | UNIQUE | FOREIGN KEY | CHECK | DEFAULT ... FOR col (ALTER TABLE only)
    TableConstraint tableConstraint(bool allowDefault);
    void checkBody(TableConstraint& k);
    void references(TableConstraint& k);

    // WITH FILLFACTOR = n | WITH (name = value, ...) | WITH PAD_INDEX, ... then ON filegroup.
    void indexOptions(IndexOptions& o);
    void indexOption(IndexOptions& o, bool valueRequired);
    StatementPtr alterTable();

    // DROP COLUMN a, b | DROP [CONSTRAINT] n, m
    void alterDrop(AlterTableStatement& st);

    // ALTER COLUMN c type [COLLATE x] [NULL | NOT NULL]
    ColumnDef alteredColumn();
    StatementPtr createDatabase();

    // (NAME = x, FILENAME = 'path', SIZE = 91, MAXSIZE = UNLIMITED, FILEGROWTH = 10%)
    DatabaseFile databaseFile();

    // 91, 2MB, 10% as written.
    std::string sizeValue(bool percentAllowed);
    StatementPtr createIndex();

    // The view's text runs to the end of the batch, so it must be the batch's only statement.
    StatementPtr createView(bool batchStart);

    // CREATE LOGIN, ALTER LOGIN, DROP LOGIN (the word LOGIN at the cursor).
    StatementPtr loginStatement(LoginStatement::Action action);
    // WITH's options of CREATE LOGIN and ALTER LOGIN, after WITH.
    void loginOptions(LoginStatement& st);
    // A password: a text literal or a variable.
    ExprPtr loginPassword();

    // ---- control of flow, transactions, settings --------------------------------------------------

    StatementPtr ifStatement();
    StatementPtr beginStatement();
    void transactionName();

    // COMMIT [TRAN[SACTION] [name]] | COMMIT WORK, and the same for ROLLBACK.
    StatementPtr endTransaction(TransactionStatement::Action action);
    StatementPtr setStatement();
    StatementPtr setVariable();
    StatementPtr declareStatement();
    std::string onOff();

    // SET DATEFORMAT dmy, SET LANGUAGE 'italiano', SET DEADLOCK_PRIORITY -5: the value as written
    // (a string without its quotes).
    std::string setValue();
    StatementPtr executeStatement();

    // proc [arg [, arg ...]] where arg is [@name =] value.
    StatementPtr executeBody();
    bool atExecArgument() const;
    ExecArgument execArgument();
    StatementPtr reconfigureStatement();
    StatementPtr useStatement();

    std::string_view src_;
    std::vector<Token> toks_;
    std::size_t pos_ = 0;
    std::size_t lastEnd_ = 0;
    int nesting_ = 0;
    int chain_ = 0;
    bool collateEndsExpression_ = false;
};

}  // namespace vopa::engine::sql::detail
