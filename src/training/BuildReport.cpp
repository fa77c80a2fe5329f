#include "BuildReport.h"

#include "anonymise/Anonymiser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

#include "config/ConfigFiles.h"
#include "config/ConnectionStrings.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "transfer/Catalogue.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::training {
namespace {

const char* const kReportFolder = "C:\\Vopa\\Log";

long long rowsOf(data::Connection& server, const std::string& database, const std::string& table) {
    long long rows = -1;
    util::ignoreErrors([&] {
        auto rs = server.execute("SELECT COUNT(*) FROM " + util::identifier(database) + ".[dbo]." + util::identifier(table));
        if (rs && rs->isOpen() && !rs->eof()) rows = static_cast<long long>(rs->field(0).toDouble());
    });
    return rows;
}

// The names of the tables of `database`, in lower case.
std::set<std::string> tablesOf(data::Connection& server, const std::string& database) {
    std::set<std::string> names;
    util::ignoreErrors([&] {
        auto rs = server.execute("SELECT TABLE_NAME FROM " + util::identifier(database) +
                                 ".INFORMATION_SCHEMA.TABLES WHERE TABLE_TYPE = 'BASE TABLE'");
        for (; rs && rs->isOpen() && !rs->eof(); rs->moveNext()) names.insert(text::toLower(rs->field(0).toString()));
    });
    return names;
}

// The budget and funder accounts tables of the company: one per project (Type or Type_Number) and one
// per funder type other than "ong" (Type + "Conti"). The names come from the company's data, so only
// those the company database really holds are kept.
std::vector<std::string> rowByRowTables(data::Connection& server, const std::string& company) {
    std::set<std::string> names;
    util::ignoreErrors([&] {
        auto rs = server.execute("SELECT LTRIM(RTRIM(Type)), LTRIM(RTRIM(Number)) FROM " + util::identifier(company) +
                                 ".[dbo].[progetti]");
        for (; rs && rs->isOpen() && !rs->eof(); rs->moveNext()) {
            const std::string type = rs->field(0).toString(), number = rs->field(1).toString();
            if (type.empty()) continue;
            names.insert(number.empty() || number == "0" ? type : type + "_" + number);
        }
    });
    util::ignoreErrors([&] {
        auto rs = server.execute("SELECT DISTINCT Type FROM " + util::identifier(company) + ".[dbo].[finanziatore]");
        for (; rs && rs->isOpen() && !rs->eof(); rs->moveNext()) {
            const std::string type = rs->field(0).toString();
            if (!type.empty() && text::toLower(type) != "ong") names.insert(type + "Conti");
        }
    });
    const std::set<std::string> existing = tablesOf(server, company);
    std::vector<std::string> tables;
    for (const std::string& name : names)
        if (existing.count(text::toLower(name)) != 0) tables.push_back(name);
    return tables;
}

std::string timestamp(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, &local);
    return buffer;
}

}  // namespace

BuildRecorder::BuildRecorder(BuildObserver& next, bool withoutValues) : next_(next), withoutValues_(withoutValues) {}

void BuildRecorder::stepStarted(const std::string& step, int number, int count) {
    finish();
    steps_.push_back({step, 0});
    stepStart_ = std::chrono::steady_clock::now();
    next_.stepStarted(step, number, count);
}

void BuildRecorder::note(const std::string& text) {
    notes_.push_back(withoutValues_ ? anonymise::withoutQuotedValues(text) : text);
    next_.note(notes_.back());
}

void BuildRecorder::finish() {
    if (steps_.empty() || steps_.back().seconds > 0) return;
    steps_.back().seconds =
        std::max(1e-6, std::chrono::duration<double>(std::chrono::steady_clock::now() - stepStart_).count());
}

std::vector<std::string> budgetAndFunderTables(state::GlobalState& g, const std::string& companyDatabase) {
    data::Connection server;
    server.open(config::readServerAddress(g));
    return rowByRowTables(server, companyDatabase);
}

std::vector<TableCheck> verifyCopy(state::GlobalState& g, const std::string& companyDatabase) {
    std::vector<TableCheck> checks;
    data::Connection server;
    if (!util::ignoreErrors([&] { server.open(config::readServerAddress(g)); })) return checks;
    const std::string training(config::kTrainingDatabase);
    std::set<std::string> seen;
    auto check = [&](const std::string& table) {
        if (!seen.insert(text::toLower(table)).second) return;
        checks.push_back({table, rowsOf(server, companyDatabase, table), rowsOf(server, training, table)});
    };
    for (const transfer::CatalogueEntry& e : transfer::catalogue())
        if (e.position > 0 && !e.insertColumns.empty()) check(e.table);
    for (const std::string& table : rowByRowTables(server, companyDatabase)) check(table);
    return checks;
}

namespace {

// `text` followed by blanks up to `width` characters (not bytes: "ProgettiDettaglioAttività" is 25).
std::string padded(const std::string& text, std::size_t width) {
    const std::size_t length = text::lengthInChars(text);
    return text + std::string(length < width ? width - length : 0, ' ');
}

std::string rightAligned(const std::string& text, std::size_t width) {
    const std::size_t length = text::lengthInChars(text);
    return std::string(length < width ? width - length : 0, ' ') + text;
}

// Creates the report file under a name no other build has taken (two builds in one second get
// build-...-2.txt); returns its program name, or throws with the reason it could not be made.
std::string createReportFile(const std::string& text) {
    files::createFolder(kReportFolder);
    const std::string stem = std::string(kReportFolder) + "\\build-" + timestamp("%Y%m%d-%H%M%S");
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::string name = stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".txt";
        const std::string path = files::mapPath(name).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw std::runtime_error(path + ": " + std::strerror(errno));
        }
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = errno;
                ::close(fd);
                throw std::runtime_error(path + ": " + std::strerror(error));
            }
            written += static_cast<std::size_t>(n);
        }
        if (::close(fd) != 0) throw std::runtime_error(path + ": " + std::strerror(errno));
        return name;
    }
    throw std::runtime_error(stem + ": troppi resoconti nello stesso secondo");
}

}  // namespace

BuildSummary writeBuildReport(const BuildRecorder& recorder, const BuildResult& result,
                              const std::vector<TableCheck>& checks, const std::string& companyDatabase) {
    BuildSummary summary;
    summary.tables = static_cast<int>(checks.size());
    for (const TableCheck& c : checks) summary.complete += c.matches() ? 1 : 0;

    static const char* const outcomes[] = {"completata", "annullata", "rifiutata", "non riuscita", "interrotta"};
    std::string text = "Creazione di VoPaDatiTraining dal database " + companyDatabase + "\n";
    text += "Data: " + timestamp("%Y-%m-%d %H:%M:%S") + "\n";
    text += std::string("Esito: ") + outcomes[static_cast<int>(result.outcome)] + "\n";
    for (const std::string& f : result.failures) text += "Errore: " + f + "\n";
    text += "\nPassi:\n";
    for (const BuildRecorder::Step& s : recorder.steps()) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%9.2f s", s.seconds);
        text += "  " + padded(s.name, 45) + " " + seconds + "\n";
    }
    text += "\nErrori (la creazione è andata avanti):\n";
    if (recorder.notes().empty()) text += "  nessuno\n";
    for (const std::string& n : recorder.notes()) text += "  " + n + "\n";
    if (result.anonymised) {
        text += "\nDati personali anonimizzati (colonna, righe cambiate):\n";
        std::size_t unchanged = 0;
        for (const AnonymisedColumn& c : result.anonymisedColumns) {
            if (c.rows == 0) ++unchanged;
            else text += "  " + padded(c.column, 50) + " " + rightAligned(std::to_string(c.rows), 12) + "\n";
        }
        text += "  " + std::to_string(unchanged) + " altre colonne di dati personali senza valori da sostituire\n";
    }
    if (result.copyEnded) {
        text += "\nVerifica delle righe (azienda / training):\n";
        for (const TableCheck& c : checks)
            text += "  " + padded(c.table, 40) + " " + rightAligned(std::to_string(c.companyRows), 12) + " " +
                    rightAligned(std::to_string(c.trainingRows), 12) + "  " + (c.matches() ? "ok" : "DIVERSO") + "\n";
        text += "\n" + std::to_string(summary.complete) + " di " + std::to_string(summary.tables) +
                " tabelle copiate completamente.\n";
    } else {
        text += "\nVerifica delle righe non eseguita: la copia non è arrivata alla fine.\n";
    }
    // The report is for the administrator's tools on this machine: UTF-8, unlike the suite's own files.
    try {
        summary.reportFile = createReportFile(text);
        summary.written = true;
    } catch (const std::exception& e) {
        summary.writeError = e.what();
    }
    return summary;
}

std::string summaryText(const BuildSummary& summary) {
    const std::string copied =
        std::to_string(summary.complete) + " di " + std::to_string(summary.tables) + " tabelle copiate completamente. ";
    if (!summary.written) return copied + "Il resoconto non è stato scritto: " + summary.writeError;
    return copied + "Resoconto: " + summary.reportFile;
}

}  // namespace vopa::training
