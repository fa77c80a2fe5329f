#include "StatementLists.h"

#include <sstream>
#include <stdexcept>

namespace vopa::embedded {
extern const char baseSchemaText[];
extern const char indexPassText[];
extern const char upgradeStatementsText[];
}  // namespace vopa::embedded

namespace vopa::schema {
namespace {

// The lines of a data file that carry data (comments and blank lines skipped).
std::vector<std::string> dataLines(const char* text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line);
    }
    return lines;
}

[[noreturn]] void corrupt(const std::string& what, const std::string& line) {
    throw std::logic_error("statement list damaged (" + what + "): " + line);
}

// The text between the first and the last double quote, with \r \n \t \" \\ decoded.
std::string quotedText(const std::string& line) {
    std::size_t open = line.find('"'), close = line.rfind('"');
    if (open == std::string::npos || close <= open) corrupt("no quoted text", line);
    std::string out;
    for (std::size_t i = open + 1; i < close; ++i) {
        char c = line[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        char next = line[++i];
        out.push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next);
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& line, int fields) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    for (int i = 0; i < fields - 1; ++i) {
        std::size_t tab = line.find('\t', pos);
        if (tab == std::string::npos) corrupt("missing field", line);
        parts.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
    parts.push_back(line.substr(pos));
    return parts;
}

ColumnSpec parseColumn(const std::string& text, const std::string& line) {
    ColumnSpec c;
    std::size_t first = text.find(' ');
    if (first == std::string::npos) corrupt("column without type", line);
    c.name = text.substr(0, first);
    std::size_t second = text.find(' ', first + 1);
    c.type = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    std::string flag = second == std::string::npos ? std::string() : text.substr(second + 1);
    if (flag.empty()) c.kind = ColumnSpec::Kind::Null;
    else if (flag == "NN") c.kind = ColumnSpec::Kind::NotNull;
    else if (flag == "identity") c.kind = ColumnSpec::Kind::Identity;
    else if (flag[0] == '=') {
        c.kind = ColumnSpec::Kind::Default;
        c.defaultExpression = flag.substr(1);
    } else {
        corrupt("unknown column flag", line);
    }
    return c;
}

}  // namespace

std::string ColumnSpec::definition() const {
    std::string d = name + " " + type + " ";
    switch (kind) {
        case Kind::Null: return d + "NULL";
        case Kind::NotNull: return d + "NOT NULL";
        case Kind::Identity: return d + "NOT NULL  IDENTITY(1,1) ";
        case Kind::Default: return d + "NOT NULL DEFAULT (" + defaultExpression + ")";
    }
    return d;
}

std::string TableSpec::createStatement() const {
    std::string s = "CREATE TABLE  " + name + "(";
    for (std::size_t i = 0; i < columns.size(); ++i) s += (i ? " ," : "") + columns[i].definition();
    return s + " )";
}

const std::vector<TableSpec>& baseSchema() {
    static const std::vector<TableSpec> tables = [] {
        std::vector<TableSpec> result;
        int batch = 0;
        for (const std::string& line : dataLines(embedded::baseSchemaText)) {
            if (line.rfind("batch ", 0) == 0) {
                batch = std::stoi(line.substr(6));
                continue;
            }
            std::size_t colon = line.find(": ");
            if (colon == std::string::npos || batch == 0) corrupt("table line", line);
            TableSpec t;
            t.name = line.substr(0, colon);
            t.batch = batch;
            std::size_t pos = colon + 2;
            while (pos <= line.size()) {
                std::size_t sep = line.find("; ", pos);
                t.columns.push_back(parseColumn(line.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos), line));
                if (sep == std::string::npos) break;
                pos = sep + 2;
            }
            result.push_back(std::move(t));
        }
        return result;
    }();
    return tables;
}

const std::vector<IndexStatement>& indexPass() {
    static const std::vector<IndexStatement> statements = [] {
        std::vector<IndexStatement> result;
        for (const std::string& line : dataLines(embedded::indexPassText)) {
            std::vector<std::string> f = splitTabs(line, 3);
            result.push_back({std::stoi(f[0]), f[1], quotedText(f[2])});
        }
        return result;
    }();
    return statements;
}

std::string UpgradeStatement::resolved(std::string_view computerName) const {
    static const std::string kPlaceholder = "${ComputerName}";
    std::string s = text;
    for (std::size_t pos; (pos = s.find(kPlaceholder)) != std::string::npos;)
        s.replace(pos, kPlaceholder.size(), computerName);
    return s;
}

const std::vector<UpgradeStatement>& upgradeStatements() {
    static const std::vector<UpgradeStatement> statements = [] {
        std::vector<UpgradeStatement> result;
        std::string procedure;
        for (const std::string& line : dataLines(embedded::upgradeStatementsText)) {
            if (line.rfind("procedure ", 0) == 0) {
                procedure = line.substr(10);
                continue;
            }
            std::vector<std::string> f = splitTabs(line, 3);
            UpgradeStatement s;
            s.procedure = procedure;
            s.number = std::stoi(f[0]);
            if (f[1] == "company") s.target = UpgradeStatement::Target::Company;
            else if (f[1] == "server") s.target = UpgradeStatement::Target::Server;
            else corrupt("unknown connection", line);
            s.text = quotedText(f[2]);
            result.push_back(std::move(s));
        }
        return result;
    }();
    return statements;
}

std::vector<UpgradeStatement> upgradeStatementsOf(std::string_view procedure) {
    std::vector<UpgradeStatement> result;
    for (const UpgradeStatement& s : upgradeStatements())
        if (s.procedure == procedure) result.push_back(s);
    return result;
}

}  // namespace vopa::schema
