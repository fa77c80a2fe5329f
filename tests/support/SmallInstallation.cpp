#include "SmallInstallation.h"

#include <stdexcept>

#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "platform/files/Files.h"
#include "support/RowTexts.h"

namespace vopa::testing {
namespace {

const char* const kServer = "Driver=SQL Server;Server=(local);UID=;PWD=;";

std::string literal(const std::string& s) {
    std::string out = "N'";
    for (char c : s) {
        if (c == '\'') out.push_back('\'');
        out.push_back(c);
    }
    return out + "'";
}

void createCompanyDatabase(const SmallCompany& c) {
    SmallInstallation::run("master", "CREATE DATABASE [" + c.database + "] ON (NAME = N'" + c.database +
                                         "', FILENAME = N'C:\\Vopa\\Sedi\\" + c.database + ".mdf')");
    SmallInstallation::run(
        c.database,
        "CREATE TABLE AbilitazioneAccessi (idAutoNumber int identity(1,1) NOT NULL, NomeUtente nvarchar(25) NOT NULL, "
        "PaswUtente nvarchar(12) NULL, Administrator bit NOT NULL, A_Inserisci bit NOT NULL, A_Cancella bit NOT NULL, "
        "A_Iva bit NOT NULL, A_Bilancio bit NOT NULL, A_Personale bit NOT NULL, A_ArchivioStoria bit NOT NULL, "
        "A_PFinanza bit NOT NULL, A_Synchro bit NOT NULL, A_EmettiPagamenti bit NOT NULL, A_Progetta bit NOT NULL, "
        "Disabilita bit NOT NULL)\n"
        "CREATE TABLE sede (IdSede int NULL, Città nvarchar(50) NULL)\n"
        "INSERT INTO sede (IdSede, Città) VALUES (" + std::to_string(static_cast<int>(c.office)) + ", N'Città')\n"
        "CREATE TABLE link_programma (id int identity(1,1) NOT NULL, NomeAzienda varchar(255) NULL, "
        "Stringa_connessione_sql nvarchar(255) NULL, qen_access nvarchar(255) NULL, qen_sql nvarchar(255) NULL, "
        "dbname nvarchar(50) NULL, nRoot nvarchar(50) NULL, Npassw nvarchar(50) NULL)\n"
        "INSERT INTO link_programma (NomeAzienda, dbname) VALUES (" + literal(c.name) + ", " + literal(c.database) + ")\n"
        "CREATE TABLE partitadoppia (IDTransazione int NULL, IdSedeAmm int NULL, idsedecompetenza int NULL, idsede int NULL)\n"
        "CREATE TABLE acquisti (IdAcquisto int NULL, IdSedeAmm int NULL, idsedecompetenza int NULL, idsede int NULL)\n"
        "CREATE TABLE progettitermine (id int NULL, rendiconto int NULL)");
}

}  // namespace

SmallInstallation::SmallInstallation(const std::vector<SmallCompany>& companies) {
    files::writeTextFile("C:\\vopa\\IndirizzoServer.txt", kServer);
    files::writeTextFile("C:\\vopa\\NomeServer.txt", "(local)");
    files::writeTextFile("C:\\vopa\\Leggi_ServerLocal.txt", "Driver=SQL Server;Server=(local);ID utente=;Password=;");
    files::writeTextFile("C:\\vopa\\NomeServerLocal.txt", "(local)");
    files::createFolder("C:\\Vopa\\Sedi");
    files::createFolder("C:\\Vopa\\Files");
    run("master", "CREATE DATABASE VoPaDatiAzienda ON (NAME = N'VoPaDatiAzienda', FILENAME = N'C:\\Vopa\\Sedi\\VoPaDatiAzienda.mdf')");
    run("VoPaDatiAzienda",
        "CREATE TABLE link_programma (id int identity(1,1) NOT NULL, NomeAzienda varchar(255) NULL, "
        "Stringa_connessione_sql nvarchar(255) NULL, qen_access nvarchar(255) NULL, qen_sql nvarchar(255) NULL, "
        "Nserver nvarchar(50) NULL, dbname nvarchar(50) NULL, nRoot nvarchar(50) NULL, nPassw nvarchar(50) NULL, "
        "IndirizzoMdf nvarchar(255) NULL, Ultimo smallint NULL)\n"
        "CREATE TABLE link_programmaTerminale (Nometerminale nvarchar(50) NULL, Ultimo int NULL)");
    for (const SmallCompany& c : companies) {
        run("VoPaDatiAzienda", "SET IDENTITY_INSERT link_programma ON\n"
                               "INSERT INTO link_programma (id, NomeAzienda, dbname, qen_sql, IndirizzoMdf) VALUES (" +
                                   std::to_string(c.id) + ", " + literal(c.name) + ", " +
                                   (c.database.empty() ? std::string("NULL") : literal(c.database)) +
                                   ", N'Qen_locale_sql.mdb', N'C:\\Vopa\\Sedi')\n"
                                   "SET IDENTITY_INSERT link_programma OFF");
        if (c.createDatabase && !c.database.empty()) createCompanyDatabase(c);
    }
}

void SmallInstallation::addUser(const std::string& database, const SmallUser& u) const {
    const std::string admin = u.administrator ? "1" : "0";
    run(database, "INSERT INTO AbilitazioneAccessi (NomeUtente, PaswUtente, Administrator, A_Inserisci, A_Cancella, "
                  "A_Iva, A_Bilancio, A_Personale, A_ArchivioStoria, A_PFinanza, A_Synchro, A_EmettiPagamenti, "
                  "A_Progetta, Disabilita) VALUES (" +
                      literal(u.name) + ", " + (u.password ? literal(*u.password) : std::string("NULL")) + ", " +
                      admin + ", 1, 0, " + admin + ", 0, 0, 0, 0, 0, 0, 1, " + (u.disabled ? "1" : "0") + ")");
}

void SmallInstallation::run(const std::string& database, const std::string& sql) {
    data::Connection c;
    c.open(std::string(kServer) + "DATABase=" + database);
    c.execute(sql);
}

std::string SmallInstallation::scalar(const std::string& database, const std::string& query) {
    data::Connection c;
    c.open(std::string(kServer) + "DATABase=" + database);
    auto rs = c.execute(query);
    return rs && rs->isOpen() && !rs->eof() ? rs->field(0).toString() : std::string();
}

int SmallInstallation::count(const std::string& database, const std::string& query) {
    return std::stoi(scalar(database, "SELECT COUNT(*) FROM (" + query + ") counted"));
}

std::vector<std::string> SmallInstallation::rows(const std::string& database, const std::string& query) {
    data::Connection c;
    c.open(std::string(kServer) + "DATABase=" + database);
    return rowTexts(c, query);
}

bool SmallInstallation::hasTable(const std::string& database, const std::string& table) {
    return count(database, "SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = " + literal(table)) == 1;
}

}  // namespace vopa::testing
