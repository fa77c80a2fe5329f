// vopa-demo: makes a demo installation of the suite under the drive root, with two companies full of
// generated accounting data, and prints the users to sign in with.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "DemoInstallation.h"
#include "platform/files/Files.h"

namespace {

const char* const kUsage =
    "usage: vopa-demo [--rows N] [--seed S] [--force | --if-missing] [--server-logins] [--help]\n"
    "\n"
    "Creates a demo installation of the Qen suite on the embedded SQL Server, ready for vopa-training.\n"
    "\n"
    "  --rows N   rows of generated data over both companies (default 20000; 1000000 and more work,\n"
    "             at roughly the speed the engine inserts rows)\n"
    "  --seed S   seed of the generator: the same seed gives the same data (default 1)\n"
    "  --force    replace an existing installation (its demo databases are dropped)\n"
    "  --if-missing  make the installation only when there is none; otherwise say nothing (./run.sh)\n"
    "  --server-logins  also create the logins the installation's connections name, so that the program\n"
    "             signs in through vopa-server (VOPA_ODBC_DRIVER); with an installation already there and\n"
    "             no --force, only the logins are made. The demo's rows and files name no login: the\n"
    "             login \"vopa\" is made with a new password, and the program gets it from\n"
    "             VOPA_ODBC_OPTIONS=\"UID=vopa;PWD=...;\" (printed); no file of the installation changes\n"
    "  --help     this text\n"
    "\n"
    "Drive C: is the folder VOPA_DRIVE_C names (default ~/.local/share/vopa/drive_c, or\n"
    "$XDG_DATA_HOME/vopa/drive_c). Below it the tool writes:\n"
    "  C:\\vopa\\IndirizzoServer.txt, NomeServer.txt, Leggi_ServerLocal.txt, NomeServerLocal.txt\n"
    "      the server (the embedded default instance \"(local)\") and the local server\n"
    "  C:\\Vopa\\Sedi    the data files of the databases;  C:\\Vopa\\Files  the companies' local files\n"
    "  VoPaDatiAzienda  the company registry (link_programma: one row per company)\n"
    "  VoPaDatiNordSud, VoPaDatiAquilone  two company databases with the full schema, three users,\n"
    "      projects with their budget tables, funders with their accounts tables, accounts, contacts,\n"
    "      ledger, donations and payroll\n"
    "  VoPaDatiTemp     the program's scratch database, when it is missing\n"
    "\n"
    "Standard output lists the users (\"user NAME password PASSWORD (role)\", \"-\" for no password) and\n"
    "the companies; with --server-logins also \"login NAME password PASSWORD\" per login and, for a login\n"
    "made up, the VOPA_ODBC_OPTIONS line. Progress goes to standard error. Exit status 1 on any error.\n";

template <typename T>
bool parseNumber(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
    vopa::demo::DemoOptions options;
    bool ifMissing = false;
    bool serverLogins = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) {
                std::cerr << "vopa-demo: " << arg << " needs a value\n" << kUsage;
                std::exit(1);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--server-logins") {
            serverLogins = true;
        } else if (arg == "--if-missing") {
            ifMissing = true;
        } else if (arg == "--rows") {
            const std::string_view v = value();
            if (!parseNumber(v, options.rows) || options.rows < 0) {
                std::cerr << "vopa-demo: --rows needs a whole number of rows, not \"" << v << "\"\n";
                return 1;
            }
        } else if (arg == "--seed") {
            const std::string_view v = value();
            if (!parseNumber(v, options.seed)) {
                std::cerr << "vopa-demo: --seed needs a whole number, not \"" << v << "\"\n";
                return 1;
            }
        } else {
            std::cerr << "vopa-demo: unknown option \"" << arg << "\"\n" << kUsage;
            return 1;
        }
    }
    const bool exists = vopa::demo::installationExists();
    if (ifMissing && !options.force && exists && !serverLogins) return 0;
    // An existing installation only gets its logins.
    const bool install = !(serverLogins && exists && !options.force);
    options.progress = [](const std::string& line) { std::cerr << line << std::endl; };

    const auto started = std::chrono::steady_clock::now();
    try {
        if (install) {
            const vopa::demo::DemoInstallation installation = vopa::demo::createDemoInstallation(options);
            for (const vopa::demo::DemoUser& u : installation.users)
                std::cout << "user " << u.name << " password " << (u.password.empty() ? "-" : u.password) << " ("
                          << u.role << ")\n";
            for (const vopa::demo::DemoCompany& c : installation.companies)
                std::cout << "company " << c.id << " " << c.name << " (database " << c.databaseName << ")\n";
        }
        if (serverLogins) {
            for (const vopa::demo::DemoLogin& l : vopa::demo::createServerLogins()) {
                std::cout << "login " << l.name << " password " << (l.password.empty() ? "-" : l.password) << "\n";
                if (l.madeUp) std::cout << "VOPA_ODBC_OPTIONS=\"UID=" << l.name << ";PWD=" << l.password << ";\"\n";
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "vopa-demo: " << e.what() << "\n";
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    char elapsed[64];
    std::snprintf(elapsed, sizeof elapsed, "%.1f", seconds);
    std::cerr << "Demo installation ready under " << vopa::files::driveRoot('C').string() << " in " << elapsed
              << " s\n";
    return 0;
}
