// The copy step on the embedded server, between a company database and a training database holding
// only the tables a test needs.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/ConnectionStrings.h"
#include "support/ScriptedMessages.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"
#include "transfer/CopyStep.h"

using namespace vopa;
using vopa::testing::SmallInstallation;

namespace {

const std::string kCompany = "VoPaDatiAlfa";
const std::string kTraining(config::kTrainingDatabase);
const std::string kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

// The rows of a query, a row's cells joined by blanks, the rows by "|" ("" for none).
std::string rowsOf(data::Connection& c, const std::string& query) {
    auto rs = c.execute(query);
    std::string out;
    for (bool first = true; !rs->eof(); rs->moveNext(), first = false) {
        out += first ? "" : "|";
        for (int i = 0; i < rs->fieldCount(); ++i) out += (i ? " " : "") + rs->field(i).toString();
    }
    return out;
}

std::string rowsOf(const std::string& database, const std::string& query) {
    data::Connection c;
    c.open(kServer + "DATABase=" + database);
    return rowsOf(c, query);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

// The project refresh: every project of the training database takes the company row's values again,
// each assignment, save and look-up failing on its own.
const char* const kProjectFields =
    "id IdFinanziatore Type Number Description titolobreve iddatestart IdDateProroga iddateend Report "
    "projectlocation kindofproject mese1 mese2 mese3 mese4 primoreport Revision idconto iddate idconto1 idconto2 "
    "idconto3 idconto4 idconto5 idconto6 idconto7 IDConto8 IDConto9 idsede chiuso IdValutaReport IDConto10 "
    "ComodoAutoNumberSede idsedelocale idDataBilancio InfoEuro QuotaOng QuotaTerzi QuotaVal mesiExtra";

TEST(ProjectRefresh, FailuresSkipOnlyTheirOwnStatement) {
    vopa::testing::TempDrive drive;
    drive.writeLocalInstallation();
    vopa::testing::ScriptedMessages messages;
    SmallInstallation::run("master", "CREATE DATABASE " + kCompany + "\nCREATE DATABASE " + kTraining);
    const std::vector<std::string> fields = split(kProjectFields, ' ');
    // The company table lacks QuotaVal; the training table has a unique index on Number.
    std::string company = "CREATE TABLE progetti (IdAutoNumber int NULL";
    std::string training = "CREATE TABLE progetti (IdAutoNumber int IDENTITY(1,1) NOT NULL";
    for (const std::string& f : fields) {
        const std::string column = ", " + f + (f == "id" ? " int NULL" : " nvarchar(40) NULL");
        training += column;
        if (f != "QuotaVal") company += column;
    }
    // Training rows 1 to 5: projects NULL, 1, 2, 3 and 4, every text "vecchio <row>". Company projects 1
    // to 3: every text "<field> <project>", but project 2's number is project 1's, so its save fails.
    training += ")\nCREATE UNIQUE INDEX UnicoNumero ON progetti (Number)";
    for (int row = 1; row <= 5; ++row) {
        std::string columns = "id";
        std::string values = row == 1 ? "NULL" : std::to_string(row - 1);
        for (const std::string& f : fields) {
            if (f == "id") continue;
            columns += ", " + f;
            values += ", N'vecchio " + std::to_string(row) + "'";
        }
        training += "\nINSERT INTO progetti (" + columns + ") VALUES (" + values + ")";
    }
    company += ")";
    for (int project = 1; project <= 3; ++project) {
        std::string columns = "IdAutoNumber";
        std::string values = std::to_string(100 + project);
        for (const std::string& f : fields) {
            if (f == "QuotaVal") continue;
            columns += ", " + f;
            values += f == "id" ? ", " + std::to_string(project)
                                : ", N'" + f + " " + std::to_string(f == "Number" && project == 2 ? 1 : project) + "'";
        }
        company += "\nINSERT INTO progetti (" + columns + ") VALUES (" + values + ")";
    }
    SmallInstallation::run(kTraining, training);
    SmallInstallation::run(kCompany, company);
    state::GlobalState g;
    g.SharedConnection.open(kServer + "DATABase=" + kCompany);
    g.ServerConnection.open(kServer);

    EXPECT_NO_THROW(transfer::refreshProjects(g));

    const std::vector<std::string> ids = {"", "1", "2", "3", "4"};
    for (int row = 1; row <= 5; ++row) {
        const int project = row - 1;
        const bool refreshed = project == 1 || project == 3;
        std::string expected = std::to_string(row);
        for (const std::string& f : fields)
            expected += " " + (f == "id"                      ? ids[row - 1]
                               : refreshed && f != "QuotaVal" ? f + " " + std::to_string(project)
                                                              : "vecchio " + std::to_string(row));
        EXPECT_EQ(rowsOf(kTraining, "SELECT * FROM progetti WHERE IdAutoNumber = " + std::to_string(row)), expected);
    }
    EXPECT_FALSE(g.SharedRecordset.isOpen());
    EXPECT_FALSE(g.SharedRecordsets[1].isOpen());
    EXPECT_EQ(g.ServerConnection.execute("SELECT DB_NAME()")->field(0).toString(), "master");
    EXPECT_TRUE(messages->texts().empty());
}

}  // namespace
