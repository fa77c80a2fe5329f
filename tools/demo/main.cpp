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
#include "platform/text/HelpText.h"

namespace vopa::embedded {
extern const char vopaDemoHelp[];
}

namespace {

// The help text, from help.txt beside this file (also the source of the manual page).
std::string usage() { return vopa::text::helpText(vopa::embedded::vopaDemoHelp); }

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
                std::cerr << "vopa-demo: " << arg << " needs a value\n" << usage();
                std::exit(1);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << usage();
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
            std::cerr << "vopa-demo: unknown option \"" << arg << "\"\n" << usage();
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
