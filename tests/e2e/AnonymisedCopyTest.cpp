// Anonymised builds of a generated company: no original value of a listed column is left anywhere in
// the training database (every text column is searched), every accounting total is the company's, a
// name is the same pseudonym in every table and inside descriptions, codes validate, the company
// database is untouched, two builds differ, and a build stopped while anonymising leaves no copy.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "anonymise/Anonymiser.h"
#include "anonymise/PersonalData.h"
#include "anonymise/Pseudonyms.h"
#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "platform/files/Files.h"
#include "platform/text/Text.h"
#include "support/DemoCompany.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "training/BuildDriver.h"

using namespace vopa;
using anonymise::Kind;
using vopa::testing::SmallInstallation;

namespace {

const std::string kTraining = "VoPaDatiTraining";

// People the demo does not generate: donors, a contact's people, a payment note naming one of them.
const char* const kExtraRows =
    "INSERT INTO Donatori (idContatto, Nome, Cognome, Indirizzo, cap, Citta, StatoOProvincia, "
    "IndirizzoPostaElettronica, CodiceFiscale, TelCellulare) VALUES "
    "(1, N'Ettore', N'Quaglierini', N'Via Sottoripa 7', N'16123', N'Genova', N'GE', N'ettore.q@posta.it', "
    "N'QGLTTR61B14D969K', N'347 5551234'), "
    "(2, N'Zaira', N'Dell''Orefice', N'Borgo Dora 3', N'10152', N'Torino', N'TO', N'zaira@orefice.it', "
    "N'DLLZRA70C41L219Q', N'333 7776655');"
    "INSERT INTO contattidaelenco (IDContatto, Nome, Cognome, IndirizzoPostaElettronica, Note) VALUES "
    "(1, N'Ettore', N'Quaglierini', N'ettore.q@posta.it', N'Preferisce essere chiamato la sera');"
    "INSERT INTO FornitoriPagamenti (IdDebito, Note) VALUES (1, N'Rimborso spese a Quaglierini Ettore, Genova');";

// Listed kinds whose values are compared as text; free text keeps its words that name nobody.
bool comparedAsText(Kind kind) {
    return kind != Kind::Text && kind != Kind::BirthDate && kind != Kind::Abi && kind != Kind::Cab;
}

// Kinds that point to a person wherever they appear. A town, a province, a postcode or a bank's name
// also names the organisation's own projects, offices and accounts, which are not personal data: those
// are looked for in their own column only.
bool identifying(Kind kind) {
    switch (kind) {
    case Kind::City: case Kind::BirthPlace: case Kind::Province: case Kind::Postcode: case Kind::Bank:
    case Kind::Abi: case Kind::Cab:
        return false;
    default:
        return true;
    }
}

// Whether `word` is in `all` as a whole word (not inside a longer one).
bool containsWord(const std::string& all, const std::string& word) {
    auto letter = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || static_cast<unsigned char>(ch) >= 0x80; };
    for (std::size_t at = all.find(word); at != std::string::npos; at = all.find(word, at + 1)) {
        const bool before = at > 0 && letter(all[at - 1]) && letter(word.front());
        const bool after = at + word.size() < all.size() && letter(all[at + word.size()]) && letter(word.back());
        if (!before && !after) return true;
    }
    return false;
}

struct Company : vopa::testing::DemoCompany {
    Company() : vopa::testing::DemoCompany(1500) { SmallInstallation::run(database, kExtraRows); }

    training::BuildResult build(bool anonymise, training::BuildObserver& observer,
                                const std::atomic<bool>* stop = nullptr) {
        training::BuildOptions options{training::standardCopyStep()};
        options.anonymise = anonymise;
        options.stop = stop;
        return vopa::testing::DemoCompany::build(observer, options);
    }
    training::BuildResult build(bool anonymise) {
        training::BuildObserver quiet;
        return build(anonymise, quiet);
    }

    std::vector<std::vector<Value>> rows(const std::string& query) {
        auto rs = server.execute(query);
        return rs->isOpen() ? rs->rows().rows : std::vector<std::vector<Value>>{};
    }
    // The distinct values of a column, small letters, blanks around taken off.
    std::set<std::string> values(const std::string& db, const std::string& table, const std::string& column) {
        std::set<std::string> out;
        for (const auto& row : rows("SELECT DISTINCT CAST([" + column + "] AS nvarchar(max)) FROM [" + db + "].dbo.[" +
                                    table + "] WHERE [" + column + "] IS NOT NULL")) {
            std::string v = text::toLower(row[0].toString());
            while (!v.empty() && v.back() == ' ') v.pop_back();
            while (!v.empty() && v.front() == ' ') v.erase(0, 1);
            if (!v.empty()) out.insert(v);
        }
        return out;
    }
    std::string scalar(const std::string& query) {
        const auto r = rows(query);
        return r.empty() ? "" : r[0][0].toString();
    }
    bool trainingExists() {
        return !rows("SELECT name FROM master.dbo.sysdatabases WHERE name = N'" + kTraining + "'").empty();
    }
};

// Every text value of every table of a database, small letters, one per line.
std::string everyText(Company& c, const std::string& db) {
    std::string all;
    for (const auto& col : c.rows("SELECT TABLE_NAME, COLUMN_NAME FROM [" + db + "].INFORMATION_SCHEMA.COLUMNS WHERE "
                                  "DATA_TYPE IN ('char', 'varchar', 'nchar', 'nvarchar', 'text', 'ntext')"))
        for (const std::string& v : c.values(db, col[0].toString(), col[1].toString())) all += v + "\n";
    return all;
}

// Totals the training company's reports are made of: per account and per project.
std::vector<std::string> totals(Company& c, const std::string& db) {
    std::vector<std::string> out;
    for (const char* query :
         {"SELECT IDConto, SUM(ImportoDepositi), SUM(ImportoPrelievi), SUM(EuroDepositi), COUNT(*) FROM [DB].dbo.partitadoppia GROUP BY IDConto",
          "SELECT IdProgetto, SUM(EuroDepositi), SUM(EuroPrelievi) FROM [DB].dbo.partitadoppia GROUP BY IdProgetto",
          "SELECT idProgetto, SUM(Donazione), COUNT(*) FROM [DB].dbo.DonazioniIncassi GROUP BY idProgetto"}) {
        std::string q = query;
        q.replace(q.find("DB"), 2, db);
        for (const auto& row : c.rows(q)) {
            std::string line;
            for (const Value& v : row) line += v.toString() + " ";
            out.push_back(line);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// How many rows of a database join a description, or a holder, to the contact's own name.
int namesThatMatch(Company& c, const std::string& db, const std::string& condition) {
    return std::stoi(c.scalar("SELECT COUNT(*) FROM [" + db + "].dbo.partitadoppia p INNER JOIN [" + db +
                              "].dbo.contatti k ON k.IdContatto = p.IDContatto WHERE " + condition));
}

bool luhnValid(const std::string& digits) {
    int sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        int d = digits[digits.size() - 1 - i] - '0';
        if (d < 0 || d > 9) return false;
        if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return sum % 10 == 0;
}

bool ibanValid(const std::string& iban) {
    const std::string moved = iban.substr(4) + iban.substr(0, 4);
    int rest = 0;
    for (char c : moved) rest = (c >= 'A' ? rest * 100 + (c - 'A' + 10) : rest * 10 + (c - '0')) % 97;
    return rest == 1;
}

class StopWhenAnonymising : public training::BuildObserver {
public:
    std::atomic<bool> stop{false};
    void stepStarted(const std::string& step, int, int) override {
        if (step == training::kAnonymisationStep) stop = true;
    }
};

}  // namespace

TEST(AnonymisedCopy, NoPersonalValueIsLeftAndEveryTotalIsTheCompanys) {
    Company c;
    std::map<std::string, std::set<std::string>> originals;  // "table.column" -> its values
    std::set<std::string> identifyingColumns;
    for (const anonymise::PersonalColumn& p : anonymise::personalData())
        if (comparedAsText(p.kind)) {
            if (identifying(p.kind)) identifyingColumns.insert(p.table + "." + p.column);
            std::set<std::string> v;
            try {
                v = c.values(c.database, p.table, p.column);
            } catch (const std::exception&) {
                continue;  // a table the company does not have
            }
            if (!v.empty()) originals[p.table + "." + p.column] = v;
        }
    ASSERT_GE(originals["contatti.NomeSocietà"].size(), 100u);
    ASSERT_EQ(originals["Donatori.Cognome"].size(), 2u);
    const std::vector<std::string> companyTotals = totals(c, c.database);
    const std::string donations = "p.Description = N'Donazione di ' + k.NomeSocietà";
    const int donationsNamed = namesThatMatch(c, c.database, donations);
    ASSERT_GT(donationsNamed, 10);
    const std::string companyBirthDates = c.scalar("SELECT COUNT(*) FROM [" + c.database + "].dbo.contatti WHERE Il IS NOT NULL");

    const training::BuildResult result = c.build(true);
    ASSERT_EQ(result.outcome, training::BuildOutcome::Completed) << ::testing::PrintToString(c.messages->texts());
    EXPECT_TRUE(result.complete()) << ::testing::PrintToString(result.failures);
    ASSERT_TRUE(result.anonymised);

    // Not one listed value is left in its column, and not one value that points to a person is left
    // in any text column of any table (values of three letters and fewer would be found by chance).
    const std::string training = everyText(c, kTraining);
    for (const auto& [column, values] : originals) {
        const std::set<std::string> now = c.values(kTraining, column.substr(0, column.find('.')), column.substr(column.find('.') + 1));
        for (const std::string& v : values) {
            EXPECT_EQ(now.count(v), 0u) << column << ": " << v;
            if (identifyingColumns.count(column) && text::lengthInChars(v) >= 4) {
                EXPECT_FALSE(containsWord(training, v)) << column << ": " << v;
            }
        }
    }
    // Each birth date moved.
    EXPECT_EQ(c.scalar("SELECT COUNT(*) FROM [" + kTraining + "].dbo.contatti t INNER JOIN [" + c.database +
                       "].dbo.contatti o ON o.IdContatto = t.IdContatto WHERE t.Il <> o.Il"),
              companyBirthDates);

    // The report says what changed, and neither it nor any message shows an original.
    long long names = -1;
    for (const training::AnonymisedColumn& a : result.anonymisedColumns)
        if (a.column == "contatti.NomeSocietà") {
            names = a.rows;
        }
    EXPECT_EQ(std::to_string(names), c.scalar("SELECT COUNT(*) FROM [" + c.database + "].dbo.contatti WHERE LEN(NomeSocietà) > 0"));
    std::ifstream file(files::mapPath(result.summary.reportFile));
    std::stringstream report;
    report << file.rdbuf();
    EXPECT_NE(report.str().find("contatti.NomeSocietà"), std::string::npos) << report.str();
    std::string shown = text::toLower(report.str());
    for (const std::string& m : c.messages->texts()) shown += text::toLower(m);
    for (const auto& [column, values] : originals)
        for (const std::string& v : values)
            if (identifyingColumns.count(column) && text::lengthInChars(v) >= 4) {
                EXPECT_FALSE(containsWord(shown, v)) << column << ": " << v;
            }

    // Amounts, accounts and projects are untouched; names still match across tables and descriptions.
    EXPECT_EQ(totals(c, kTraining), companyTotals);
    EXPECT_EQ(namesThatMatch(c, kTraining, donations), donationsNamed);
    EXPECT_EQ(c.scalar("SELECT COUNT(*) FROM [" + kTraining + "].dbo.contatti WHERE Intestatario = NomeSocietà"),
              c.scalar("SELECT COUNT(*) FROM [" + c.database + "].dbo.contatti WHERE Intestatario = NomeSocietà"));
    const auto donor = c.rows("SELECT Cognome, Nome FROM [" + kTraining + "].dbo.Donatori WHERE idContatto = 1");
    ASSERT_EQ(donor.size(), 1u);
    const std::string donorName = donor[0][0].toString() + " " + donor[0][1].toString();
    EXPECT_EQ(c.scalar("SELECT Cognome + N' ' + Nome FROM [" + kTraining + "].dbo.contattidaelenco"), donorName);
    EXPECT_EQ(c.scalar("SELECT CAST(Note AS nvarchar(max)) FROM [" + kTraining + "].dbo.FornitoriPagamenti")
                  .rfind("Rimborso spese a " + donorName + ", ", 0),
              0u);

    // Codes have valid check characters; mail goes nowhere real.
    for (const auto& row : c.rows("SELECT Codicefiscale, PartitaIva, Iban, IndirizzoPostaElettronica FROM [" + kTraining +
                                  "].dbo.contatti")) {
        const std::string fiscal = row[0].toString(), vat = row[1].toString(), iban = row[2].toString(),
                          mail = row[3].toString();
        if (fiscal.size() == 16) {
            EXPECT_EQ(anonymise::fiscalCodeCheckCharacter(fiscal.substr(0, 15)), fiscal[15]) << fiscal;
        } else if (!fiscal.empty()) {
            EXPECT_TRUE(luhnValid(fiscal)) << fiscal;
        }
        if (!vat.empty()) {
            EXPECT_TRUE(vat.size() == 11 && luhnValid(vat)) << vat;
        }
        if (!iban.empty()) {
            EXPECT_TRUE(iban.size() == 27 && ibanValid(iban)) << iban;
        }
        if (!mail.empty()) {
            EXPECT_EQ(mail.substr(mail.size() - 12), "@example.org");
        }
    }

    // The company database is as it was.
    for (const auto& [column, values] : originals)
        EXPECT_EQ(c.values(c.database, column.substr(0, column.find('.')), column.substr(column.find('.') + 1)), values)
            << column;
}

TEST(AnonymisedCopy, TwoBuildsDifferAndAStoppedAnonymisationLeavesNoCopy) {
    Company c;
    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& row : c.rows("SELECT NomeSocietà FROM [" + kTraining + "].dbo.contatti ORDER BY IdContatto"))
            out.push_back(row[0].toString());
        return out;
    };
    ASSERT_TRUE(c.build(true).complete());
    const std::vector<std::string> first = names();
    ASSERT_TRUE(c.build(true).complete());
    const std::vector<std::string> second = names();
    ASSERT_EQ(first.size(), second.size());
    std::size_t same = 0;
    for (std::size_t i = 0; i < first.size(); ++i) same += first[i] == second[i];
    EXPECT_LT(same, first.size() / 10) << "a key per build";

    StopWhenAnonymising observer;
    const training::BuildResult stopped = c.build(true, observer, &observer.stop);
    EXPECT_EQ(stopped.outcome, training::BuildOutcome::Interrupted);
    EXPECT_FALSE(stopped.anonymised);
    EXPECT_FALSE(c.trainingExists()) << "a copy still holding personal data must not stay";
}

// A table whose identities are unique is replaced by row, one whose identities repeat (no key yet) by
// value: either way each row gets the pseudonyms of its own values, column by column.
TEST(AnonymisedCopy, EachRowGetsThePseudonymsOfItsOwnValues) {
    vopa::testing::TempDrive drive;
    SmallInstallation installation{{}};
    SmallInstallation::run("master", "CREATE DATABASE Prova");
    // Donatori has two rows under identity 50; contatti's identities are unique, its rows enough to be
    // replaced by row. `idContatto` (not personal) tells the rows apart.
    std::string batch =
        "CREATE TABLE Donatori (idAutonumber int IDENTITY(1,1) NOT NULL, idContatto int NOT NULL, Nome nvarchar(30) NULL, "
        "Cognome nvarchar(30) NULL, Citta nvarchar(70) NULL);"
        "SET IDENTITY_INSERT Donatori ON;"
        "INSERT INTO Donatori (idAutonumber, idContatto, Nome, Cognome, Citta) VALUES "
        "(50, 1, N'Ottavio', N'Brambillasca', N'Lodi'), (50, 2, N'Ginevra', N'Scaramelli', NULL), "
        "(51, 3, N'Ottavio', N'Scaramelli', N'Crema');"
        "SET IDENTITY_INSERT Donatori OFF;"
        "CREATE TABLE contatti (IdAutoNumber int IDENTITY(1,1) NOT NULL, IdContatto int NOT NULL, "
        "NomeSocietà nvarchar(50) NULL, Città nvarchar(50) NULL, Indirizzo nvarchar(255) NULL);";
    for (int i = 1; i <= 150; ++i)
        batch += "INSERT INTO contatti (IdContatto, NomeSocietà, Città, Indirizzo) VALUES (" + std::to_string(i) +
                 ", N'Ditta" + std::to_string(i) + " Brambillasca', " + (i % 3 ? "N'Lodi'" : "NULL") + ", N'Via Roma " +
                 std::to_string(i) + "');";
    SmallInstallation::run("Prova", batch);

    data::Connection connection;
    connection.open("Driver=SQL Server;Server=(local);Database=Prova;UID=;PWD=;");
    anonymise::Pseudonyms pseudonyms(anonymise::Pseudonyms::randomKey());
    const std::vector<anonymise::AnonymisedColumn> done =
        anonymise::anonymiseDatabase(connection, pseudonyms, anonymise::personalData());
    auto rowsChanged = [&](const std::string& column) {
        for (const anonymise::AnonymisedColumn& a : done)
            if (a.table + "." + a.column == column) return a.rows;
        return -1LL;
    };
    EXPECT_EQ(rowsChanged("Donatori.Cognome"), 3);
    EXPECT_EQ(rowsChanged("Donatori.Citta"), 2);
    EXPECT_EQ(rowsChanged("contatti.Città"), 100);
    EXPECT_EQ(rowsChanged("contatti.Indirizzo"), 150);

    const std::string lodi = pseudonyms.text(Kind::City, "Lodi", 70);
    EXPECT_EQ(SmallInstallation::rows("Prova", "SELECT idContatto, Nome, Cognome, Citta FROM Donatori ORDER BY idContatto"),
              (std::vector<std::string>{
                  "1|" + pseudonyms.text(Kind::FirstName, "Ottavio", 30) + "|" + pseudonyms.text(Kind::Surname, "Brambillasca", 30) + "|" + lodi,
                  "2|" + pseudonyms.text(Kind::FirstName, "Ginevra", 30) + "|" + pseudonyms.text(Kind::Surname, "Scaramelli", 30) + "|NULL",
                  "3|" + pseudonyms.text(Kind::FirstName, "Ottavio", 30) + "|" + pseudonyms.text(Kind::Surname, "Scaramelli", 30) + "|" +
                      pseudonyms.text(Kind::City, "Crema", 70)}));
    for (int i : {1, 2, 3, 150})
        EXPECT_EQ(SmallInstallation::rows("Prova", "SELECT NomeSocietà, Città, Indirizzo FROM contatti WHERE IdContatto = " +
                                                     std::to_string(i)),
                  (std::vector<std::string>{pseudonyms.text(Kind::Name, "Ditta" + std::to_string(i) + " Brambillasca", 50) + "|" +
                                            (i % 3 ? lodi.substr(0, 50) : "NULL") + "|" +
                                            pseudonyms.text(Kind::Address, "Via Roma " + std::to_string(i), 255)}))
            << "row " << i;
    // The work tables are gone.
    EXPECT_EQ(SmallInstallation::count("Prova", "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME LIKE 'Anonimizzazione%'"), 0);
}
