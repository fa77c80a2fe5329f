#include "StartupMaintenance.h"

#include "CompanyOpening.h"
#include "Language.h"
#include "TableChecks.h"
#include "config/SharedObjects.h"
#include "platform/text/Text.h"
#include "util/ErrorModes.h"
#include "util/Helpers.h"

namespace vopa::company {
namespace {

void execute(state::GlobalState& g, const std::string& statement) {
    util::ignoreErrors([&] { g.SharedConnection.execute(statement); });
}

// The columns both work tables share, in order.
const char* const kWorkTableColumns =
    "IDTransazione int identity (1, 1) not null, NumeroTransazioneTemp nvarchar(50) null, NumeroTransazione int null, "
    "DataTransazione datetime null, IDConto int null, IDContatto int null, IdValuta int null, ImportoDepositi money null, "
    "ImportoPrelievi money null, Description nvarchar(60) null, Ref_Nr nvarchar(50) null, EuroDepositi money null, "
    "EuroPrelievi money null, IdProgetto int null, DataReport datetime null, Spunta smallint null, Correzione smallint null, "
    "Definito smallint null, IdSede int null, IdProgettoAdmin int null, idprogettorendiconto int null, idgruppo int null, "
    "IDContoCp int null, IDContattoCp int null, NumeroFattura int null, NumeroFatturaAcquisto nvarchar(15) null, "
    "DataFattura datetime null, ";

std::string tabellaUnStatement() {
    std::string s = "CREATE TABLE TabellaUn (idautonumber int identity(1,1) not null, IDprogetto int null, "
                    "datainizio smalldatetime null, datafine smalldatetime null, idconto int null, idvaluta int null, "
                    "BudgetItem nvarchar(255) null, category nvarchar(255) null, idtipoconto int null, "
                    "ContoReport nvarchar(255) null, NomeConto nvarchar(255) null, PContribution bit not null default '0', "
                    "O_Contribution bit not null default '0', QuotaOng numeric(9, 2) not null default '0', "
                    "QuotaTerzi numeric(9, 2) not null default '0', QuotaAltri numeric(9, 2) not null default '0', "
                    "FirstBudgetApproved numeric(18, 2) null, revision numeric(18, 2) null, BudgetApproved numeric(18, 2) null";
    for (const char* family : {"Budget", "BudgetRealizzato", "BudgetImpegnato"})
        for (int i = 1; i <= 12; ++i) s += ", " + std::string(family) + std::to_string(i) + " numeric(18, 2) null";
    s += ", IdContatto int not null default 0";
    for (const char* c : {"CostoFornitori", "FornitoriPrecedente", "FornitoriIncrementi", "FornitoriDecrementi", "FornitoriSaldo"})
        s += ", " + std::string(c) + " decimal(18, 2) not null default 0";
    for (int i = 1; i <= 12; ++i) s += ", dataPerido" + std::to_string(i) + " smalldatetime null";
    return s + ", BudgetRealizzato numeric(18, 2) null) ";
}

}  // namespace

std::string workTableStatement(const std::string& prefix, const std::string& computerName, double officeId) {
    const std::string office = util::numberText(officeId);
    std::string tail = prefix == "InserimentoProgetto"
                           ? "IdSedeCompetenza int null, IdSedeLocale int null, IdSedeAmm int not null default " + office +
                                 ", Badge nvarchar(20) null"
                           : "ComodoAutoNumberSedeCp int null, ComodoAutoNumberSede int null, IdSedeCompetenza int null, "
                             "idsedelocale int null, IdSedeAmm int not null default " + office + ", Badge nvarchar(20) null";
    return "CREATE TABLE " + util::identifier(prefix + computerName) + " (" + kWorkTableColumns + tail + ") ";
}

double versionMarkOf(const std::string& programName) {
    return text::toLower(programName) == "qen_donazioni" ? 2 : 1;
}

double versionRecord(double value, state::GlobalState& g) {
    double result = value;
    util::ignoreErrors([&] {
        if (!config::openScratchRow("Create table Version (id int null, Version int not null default 1 )",
                                    "select * from Version where id = 1", g))
            return;
        data::Recordset& rs = g.SharedRecordset;
        if (rs.eof()) {
            rs.addNew();
            rs.setField("id", Value::longInt(1));
            rs.setField("Version", Value::dbl(value));
            rs.update();
        } else if (value == 0) {
            if (!util::isEmptyValue(rs.field("Version"))) result = rs.field("Version").toDouble();
        } else {
            rs.setField("Version", Value::dbl(value));
            rs.update();
        }
    });
    return result;
}

void runMaintenancePass(state::GlobalState& g) {
    readLanguage(g);
    execute(g,
            "EXEC sys.sp_configure N'show advanced options', N'1'  RECONFIGURE WITH OVERRIDE\r\n"
            " EXEC sys.sp_configure N'min memory per query (KB)', N'10240'\r\n"
            " RECONFIGURE WITH OVERRIDE \r\n"
            " EXEC sys.sp_configure N'show advanced options', N'0'  RECONFIGURE WITH OVERRIDE");
    readDataFileFolder(g);
    config::openScratchDatabase(g);
    execute(g, "delete from fornitoriimpegnispesi where not exists" +
                   std::string(" (select idautonumber from FornitoriImpegniProgetti where "
                               "FornitoriImpegniProgetti.IDAutonumber = FornitoriImpegniSpesi.IDImpegnoDettaglio)"));
    std::string computer = g.ComputerName;
    util::sanitise(computer);
    for (const char* prefix : {"InserimentoProgetto", "CorrezioneContabilita"})
        if (!tableExists(prefix + computer, g)) execute(g, workTableStatement(prefix, computer, g.OfficeId));
    execute(g, tabellaUnStatement());
    config::resetSharedObjects(g);
    // This program is not "qen": its mark is 1 (2 belongs to the donations program).
    versionRecord(versionMarkOf("vopa-training"), g);
    readLanguage(g);
}

}  // namespace vopa::company
