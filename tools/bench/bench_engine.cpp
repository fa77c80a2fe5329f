// bench-engine: measures the embedded engine against plain SQLite doing the same work in the same
// run, and prints each time with its ratio to the baseline.
//
//   1. creating 355 tables (13 to 14 columns each, as the accounting schema has)
//   2. copying 1,000,000 rows between two databases of one server with INSERT ... SELECT
//      (identity insertion on, every column named, as the build copies)
//   3. 1,000 single-row updates through a recordset
//
// Usage: bench-engine [rows]   (default 1000000). Uses a fresh temporary drive C:.

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/data/Connection.h"
#include "platform/data/Recordset.h"
#include "platform/files/Files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(const std::function<void()>& work) {
    auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void sqliteExec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n%s\n", error ? error : "?", sql.c_str());
        std::exit(1);
    }
}

void report(const char* what, double engine, double baseline) {
    std::printf("%-44s engine %8.3f s   sqlite %8.3f s   ratio %5.2f\n", what, engine, baseline, engine / baseline);
}

const char* kColumns[] = {"int NULL", "nvarchar(50) NULL", "money NULL", "datetime NULL", "decimal(18,2) NULL",
                          "float NULL", "bit NOT NULL DEFAULT (0)"};
const char* kSqliteColumns[] = {"INTEGER", "TEXT", "INTEGER", "INTEGER", "INTEGER", "REAL", "INTEGER"};

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const fs::path drive = fs::temp_directory_path() / ("vopa-bench-" + std::to_string(::getpid()));
    fs::create_directories(drive / "Vopa/Sedi");
    setenv("VOPA_DRIVE_C", drive.c_str(), 1);

    vopa::data::Connection server;
    server.open("Driver=SQL Server;Server=(local);UID=;PWD=;");
    server.execute("CREATE DATABASE Sorgente ON (NAME = N'Sorgente_dat', FILENAME = N'C:\\Vopa\\Sedi\\Sorgente.mdf') "
                   "LOG ON (NAME = N'Sorgente_log', FILENAME = N'C:\\Vopa\\Sedi\\Sorgente.ldf')");
    server.execute("CREATE DATABASE Schema355 ON (NAME = N'S_dat', FILENAME = N'C:\\Vopa\\Sedi\\Schema355.mdf') "
                   "LOG ON (NAME = N'S_log', FILENAME = N'C:\\Vopa\\Sedi\\Schema355.ldf')");
    server.execute("CREATE DATABASE Destinazione ON (NAME = N'D_dat', FILENAME = N'C:\\Vopa\\Sedi\\Destinazione.mdf') "
                   "LOG ON (NAME = N'D_log', FILENAME = N'C:\\Vopa\\Sedi\\Destinazione.ldf')");

    // 1. 355 tables.
    vopa::data::Connection schema;
    schema.open("Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=Schema355");
    const double engineTables = seconds([&] {
        for (int t = 0; t < 355; ++t) {
            std::string sql = "CREATE TABLE  Tabella" + std::to_string(t) + "(IdAutonumber int NOT NULL  IDENTITY(1,1)  ";
            for (int c = 0; c < 12 + t % 3; ++c)
                sql += " ,Colonna" + std::to_string(c) + " " + kColumns[c % 7];
            schema.execute(sql + " )");
        }
    });
    sqlite3* plain = nullptr;
    sqlite3_open((drive / "plain-schema.db").c_str(), &plain);
    sqliteExec(plain, "PRAGMA journal_mode=WAL");
    const double plainTables = seconds([&] {
        for (int t = 0; t < 355; ++t) {
            std::string sql = "CREATE TABLE Tabella" + std::to_string(t) + "(IdAutonumber INTEGER";
            for (int c = 0; c < 12 + t % 3; ++c) sql += ", Colonna" + std::to_string(c) + " " + kSqliteColumns[c % 7];
            sqliteExec(plain, sql + ")");
        }
    });
    sqlite3_close(plain);
    report("create 355 tables", engineTables, plainTables);

    // 2. The copy of `rows` rows.
    const std::string layout =
        "(IDTransazione int NOT NULL IDENTITY(1,1), NumeroTransazione int NULL, DataTransazione datetime NULL, "
        "IDConto int NULL, ImportoDepositi numeric(19,2) NULL, ImportoPrelievi numeric(19,2) NULL, "
        "Description nvarchar(60) NULL, IdValuta int NULL, TassoCambio float NULL, Definito smallint NULL)";
    server.execute("CREATE TABLE Sorgente.dbo.partitadoppia " + layout);
    server.execute("CREATE TABLE Destinazione.dbo.partitadoppia " + layout);
    std::string values;
    for (int i = 1; i <= 1000; ++i)
        values += std::string(i > 1 ? ", " : "") + "(" + std::to_string(i) + ", '2009-03-05', " +
                  std::to_string(400 + i % 50) + ", " + std::to_string(i) + ".25, 0, N'Movimento numero " +
                  std::to_string(i) + "', 1001, 1.0, 0)";
    server.execute("INSERT INTO Sorgente.dbo.partitadoppia (NumeroTransazione, DataTransazione, IDConto, "
                   "ImportoDepositi, ImportoPrelievi, Description, IdValuta, TassoCambio, Definito) VALUES " + values);
    const std::string columns = "NumeroTransazione, DataTransazione, IDConto, ImportoDepositi, ImportoPrelievi, "
                                "Description, IdValuta, TassoCambio, Definito";
    for (long have = 1000; have < rows; have *= 2) {
        long take = std::min(have, rows - have);
        server.execute("INSERT INTO Sorgente.dbo.partitadoppia (" + columns + ") SELECT TOP " + std::to_string(take) +
                       " " + columns + " FROM Sorgente.dbo.partitadoppia");
    }
    std::string copy = "Insert into [Destinazione].[dbo].[partitadoppia](\r\n   [IDTransazione]";
    std::string select = ") select\r\n   [IDTransazione]";
    for (const char* c : {"NumeroTransazione", "DataTransazione", "IDConto", "ImportoDepositi", "ImportoPrelievi",
                          "Description", "IdValuta", "TassoCambio", "Definito"}) {
        copy += ",\r\n   [" + std::string(c) + "]";
        select += ",\r\n   [" + std::string(c) + "]";
    }
    copy += "\r\n" + select + "\r\n\r\n from [Sorgente].[dbo].[partitadoppia]";
    const double engineCopy = seconds([&] {
        server.execute("set identity_insert  [Destinazione].[dbo].[partitadoppia] ON");
        server.execute(copy);
        server.execute("set identity_insert  [Destinazione].[dbo].[partitadoppia] OFF");
    });
    sqlite3_open(":memory:", &plain);
    const fs::path source = vopa::files::mapPath("C:\\Vopa\\Sedi\\Sorgente.mdf");
    sqliteExec(plain, "ATTACH DATABASE '" + source.string() + "' AS src");
    sqliteExec(plain, "ATTACH DATABASE '" + (drive / "plain-copy.db").string() + "' AS dst");
    sqliteExec(plain, "PRAGMA dst.journal_mode=WAL");
    sqliteExec(plain, "PRAGMA dst.synchronous=NORMAL");
    std::string plainTable;
    {
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(plain, "SELECT sql FROM src.sqlite_master WHERE name LIKE 't1%' AND type = 'table'", -1, &q,
                           nullptr);
        if (sqlite3_step(q) == SQLITE_ROW) plainTable = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
        sqlite3_finalize(q);
    }
    sqlite3_create_collation(plain, "VOPA_CI", SQLITE_UTF8, nullptr,
                             [](void*, int n1, const void* a, int n2, const void* b) {
                                 int r = std::memcmp(a, b, static_cast<std::size_t>(std::min(n1, n2)));
                                 return r != 0 ? r : n1 - n2;
                             });
    plainTable.replace(0, plainTable.find('('), "CREATE TABLE dst.copia");
    sqliteExec(plain, plainTable);
    const double plainCopy = seconds([&] { sqliteExec(plain, "INSERT INTO dst.copia SELECT * FROM src.t100003"); });
    sqlite3_close(plain);
    char label[64];
    std::snprintf(label, sizeof label, "copy %ld rows between databases", rows);
    report(label, engineCopy, plainCopy);

    // 3. 1,000 recordset updates.
    vopa::data::Connection company;
    company.open("Driver=SQL Server;Server=(local);UID=;PWD=;DATABase=Sorgente");
    company.execute("SELECT TOP 1000 * INTO progetti FROM partitadoppia");
    const double engineUpdates = seconds([&] {
        vopa::data::Recordset rs;
        rs.open("progetti", company, vopa::data::CursorType::Keyset, vopa::data::LockType::Pessimistic);
        while (!rs.eof()) {
            rs.setField("Description", vopa::Value::string("aggiornato"));
            rs.update();
            rs.moveNext();
        }
    });
    sqlite3_open(vopa::files::mapPath("C:\\Vopa\\Sedi\\Sorgente.mdf").c_str(), &plain);
    sqlite3_create_collation(plain, "VOPA_CI", SQLITE_UTF8, nullptr,
                             [](void*, int n1, const void* a, int n2, const void* b) {
                                 int r = std::memcmp(a, b, static_cast<std::size_t>(std::min(n1, n2)));
                                 return r != 0 ? r : n1 - n2;
                             });
    const double plainUpdates = seconds([&] {
        sqlite3_stmt* u = nullptr;
        sqlite3_prepare_v2(plain, "UPDATE t100003 SET c7 = 'di nuovo' WHERE rowid = ?1", -1, &u, nullptr);
        for (int i = 1; i <= 1000; ++i) {
            sqlite3_bind_int(u, 1, i);
            sqlite3_step(u);
            sqlite3_reset(u);
        }
        sqlite3_finalize(u);
    });
    sqlite3_close(plain);
    report("1000 recordset updates", engineUpdates, plainUpdates);

    std::error_code ec;
    fs::remove_all(drive, ec);
    return 0;
}
