// vopa-sqlcmd: a query tool in the style of sqlcmd, on the program's own data layer. It reaches the
// same servers the program reaches (the embedded engine under VOPA_DRIVE_C, or a real server through
// ODBC) and resolves server names exactly as the program does.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/data/Connection.h"
#include "platform/data/EngineProvider.h"
#include "platform/engine/Display.h"
#include "platform/engine/Server.h"
#include "platform/text/HelpText.h"
#include "platform/text/Text.h"

namespace vopa::embedded {
extern const char vopaSqlcmdHelp[];
}

namespace {

using vopa::data::DataError;

// The help text, from help.txt beside this file (also the source of the manual page).
std::string usage() { return vopa::text::helpText(vopa::embedded::vopaSqlcmdHelp); }

struct Options {
    std::string server = "(local)";
    std::string database;
    std::string user;
    std::string password;
    std::string query;
    std::vector<std::string> inputFiles;
    bool exitOnError = false;
    std::string separator = " ";
    bool headers = true;
    bool trimTrailing = false;
    std::string createInstance;
};

// Splits a script into batches at lines that hold only GO.
std::vector<std::string> splitBatches(const std::string& script) {
    std::vector<std::string> batches;
    std::string current, line;
    std::istringstream in(script);
    while (std::getline(in, line)) {
        std::string trimmed = line;
        if (!trimmed.empty() && trimmed.back() == '\r') trimmed.pop_back();
        std::string word = trimmed;
        word.erase(0, word.find_first_not_of(" \t"));
        word.erase(word.find_last_not_of(" \t;") + 1);
        if (vopa::text::equalsNoCase(word, "GO")) {
            batches.push_back(current);
            current.clear();
        } else {
            current += line + "\n";
        }
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos) batches.push_back(current);
    return batches;
}

int lineOf(const std::string& batch, std::size_t offset) {
    return 1 + static_cast<int>(std::count(batch.begin(), batch.begin() + static_cast<long>(std::min(offset, batch.size())), '\n'));
}

std::string padded(const std::string& s, std::size_t width, bool trim) {
    if (trim) return s;
    std::size_t chars = vopa::text::lengthInChars(s);
    return chars >= width ? s : s + std::string(width - chars, ' ');
}

std::string rightTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

void printResult(const vopa::data::ResultSet& rs, const Options& o) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::size_t> widths(rs.columns.size(), 0);
    for (std::size_t i = 0; i < rs.columns.size(); ++i) widths[i] = vopa::text::lengthInChars(rs.columns[i].name);
    for (const auto& row : rs.rows) {
        std::vector<std::string> line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line.push_back(vopa::engine::displayText(row[i], vopa::data::engineTypeOf(rs.columns[i].type)));
            widths[i] = std::max(widths[i], vopa::text::lengthInChars(line.back()));
        }
        cells.push_back(std::move(line));
    }
    auto emit = [&](const std::vector<std::string>& values) {
        std::string out;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) out += o.separator;
            out += padded(values[i], widths[i], o.trimTrailing);
        }
        std::cout << (o.trimTrailing ? rightTrim(out) : rightTrim(out)) << '\n';
    };
    if (o.headers) {
        std::vector<std::string> names, dashes;
        for (std::size_t i = 0; i < rs.columns.size(); ++i) {
            names.push_back(rs.columns[i].name);
            dashes.push_back(std::string(o.trimTrailing ? std::max<std::size_t>(1, vopa::text::lengthInChars(rs.columns[i].name))
                                                        : widths[i],
                                         '-'));
        }
        emit(names);
        emit(dashes);
    }
    for (const auto& line : cells) emit(line);
    std::cout << "\n(" << rs.rows.size() << " rows affected)\n";
}

// Runs one batch; returns false when a statement failed.
bool runBatch(vopa::data::Connection& connection, const std::string& batch, const Options& o) {
    if (batch.find_first_not_of(" \t\r\n") == std::string::npos) return true;
    bool ok = true;
    for (const vopa::data::StatementOutcome& out : connection.provider().executeBatch(batch)) {
        for (const std::string& m : out.messages) std::cout << m << '\n';
        if (out.resultSet) printResult(*out.resultSet, o);
        else if (out.rowsAffected >= 0 && !out.error)
            std::cout << "\n(" << out.rowsAffected << " rows affected)\n";
        if (out.error) {
            ok = false;
            std::cout << "Msg " << out.error->number << ", Level " << out.error->severity << ", State "
                      << out.error->state << ", Server " << o.server << ", Line " << lineOf(batch, out.offset) << '\n'
                      << out.error->message << '\n';
            for (const vopa::data::ServerError& e : out.followingErrors) {
                if (e.severity > 10)
                    std::cout << "Msg " << e.number << ", Level " << e.severity << ", State " << e.state
                              << ", Server " << o.server << ", Line " << lineOf(batch, out.offset) << '\n';
                std::cout << e.message << '\n';
            }
        }
    }
    std::cout.flush();
    return ok;
}

bool parseArguments(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument("option " + a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-?") {
            std::cout << usage();
            std::exit(0);
        } else if (a == "-S") o.server = value();
        else if (a == "-d") o.database = value();
        else if (a == "-U") o.user = value();
        else if (a == "-P") o.password = value();
        else if (a == "-E") {
        } else if (a == "-Q" || a == "-q") o.query = value();
        else if (a == "-i") o.inputFiles.push_back(value());
        else if (a == "-b") o.exitOnError = true;
        else if (a == "-s") o.separator = value();
        else if (a == "-h") o.headers = std::atoi(value().c_str()) != -1;
        else if (a == "-W") o.trimTrailing = true;
        else if (a == "--create-instance") o.createInstance = value();
        else throw std::invalid_argument("unknown option " + a);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        parseArguments(argc, argv, o);
    } catch (const std::invalid_argument& e) {
        std::cerr << "Sqlcmd: " << e.what() << "\n\n" << usage();
        return 1;
    }
    try {
        if (!o.createInstance.empty()) {
            vopa::engine::InstanceLocation loc = vopa::engine::createNamedInstance(o.createInstance);
            std::cout << "Instance " << loc.instanceName << " ready in " << loc.dataFolderWindows << '\n';
            if (o.query.empty() && o.inputFiles.empty()) return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "Sqlcmd: Error: " << e.what() << '\n';
        return 1;
    }

    vopa::data::Connection connection;
    std::string text = "Driver=SQL Server;Server=" + o.server + ";UID=" + o.user + ";PWD=" + o.password + ";";
    if (!o.database.empty()) text += "DATABase=" + o.database + ";";
    try {
        connection.open(text);
    } catch (const DataError& e) {
        std::cerr << "Sqlcmd: Error: " << e.what() << '\n';
        return 1;
    }

    std::vector<std::string> batches;
    if (!o.query.empty()) {
        batches.push_back(o.query);
    } else if (!o.inputFiles.empty()) {
        for (const std::string& file : o.inputFiles) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::cerr << "Sqlcmd: '" << file << "': Invalid filename.\n";
                return 1;
            }
            std::stringstream content;
            content << in.rdbuf();
            for (std::string& b : splitBatches(content.str())) batches.push_back(std::move(b));
        }
    } else {
        std::stringstream content;
        content << std::cin.rdbuf();
        batches = splitBatches(content.str());
    }
    bool allOk = true;
    for (const std::string& batch : batches) {
        try {
            allOk = runBatch(connection, batch, o) && allOk;
        } catch (const DataError& e) {
            std::cout << "Msg " << e.number() << ", Level 16, State 1\n" << e.what() << '\n';
            allOk = false;
        }
        if (!allOk && o.exitOnError) return 1;
    }
    return o.exitOnError && !allOk ? 1 : 0;
}
