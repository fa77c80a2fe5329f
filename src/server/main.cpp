// vopa-server: serves the embedded engine's instance under VOPA_DRIVE_C to SQL Server clients over TCP
// (TDS), so that FreeTDS, ODBC drivers and other tools reach the databases the program works on.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine/EngineError.h"
#include "platform/engine/Logins.h"
#include "platform/engine/Server.h"
#include "platform/text/HelpText.h"
#include "server/Browser.h"
#include "server/Connection.h"
#include "server/Listener.h"
#include "server/TlsChannel.h"

namespace vopa::embedded {
extern const char vopaServerHelp[];
}

namespace {

// The help text, from help.txt beside this file (also the source of the manual page).
std::string usage() { return vopa::text::helpText(vopa::embedded::vopaServerHelp); }

// The first line of the file (without its line end); false when it cannot be read.
bool readPasswordFile(const std::string& path, std::string& password) {
    std::ifstream in(path, std::ios::binary);
    if (!in || !std::getline(in, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

const char* const kNoSaPassword =
    "vopa-server: the login sa has no password yet, so no client could sign in. Give it one for this first\n"
    "start, either in a file (its first line) or in the environment:\n"
    "  vopa-server --sa-password-file /path/to/file\n"
    "  VOPA_SA_PASSWORD='a strong password' vopa-server\n"
    "Later starts keep that password (change it with ALTER LOGIN sa WITH PASSWORD = '...').\n";

// Gives sa its password at the first start; false (after saying why) when the server cannot start.
bool settleSaPassword(const vopa::engine::InstanceLocation& instance, const std::string& passwordFile) {
    const char* fromEnvironment = std::getenv("VOPA_SA_PASSWORD");
    std::string password = fromEnvironment ? fromEnvironment : "";
    ::unsetenv("VOPA_SA_PASSWORD");
    if (vopa::engine::saHasPassword(instance)) return true;
    if (!passwordFile.empty() && !readPasswordFile(passwordFile, password)) {
        std::cerr << "vopa-server: cannot read the sa password file '" << passwordFile << "'\n";
        return false;
    }
    if (password.empty()) {
        std::cerr << kNoSaPassword;
        return false;
    }
    if (vopa::engine::setSaPasswordIfUnset(instance, password))
        std::cerr << "vopa-server: the login sa has its password now\n";
    return true;
}

// "127.0.0.1:1433", "[::1]:1433".
std::string endpoint(const std::string& address, std::uint16_t port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ':' + std::to_string(port);
}

bool number(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && out >= low && out <= high;
}

}  // namespace

int main(int argc, char** argv) {
    vopa::server::Settings settings;
    std::string certificate, key;
    std::string passwordFile;
    std::string instanceName;
    bool browser = false;
    std::string browserAddress = "127.0.0.1";
    std::uint16_t browserPort = 1434;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage();
            return 0;
        }
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (arg == "--listen" && hasValue) {
            settings.address = argv[++i];
        } else if (arg == "--port" && hasValue && number(argv[i + 1], 0, 65535, value)) {
            settings.port = static_cast<std::uint16_t>(value);
            ++i;
        } else if (arg == "--idle-timeout" && hasValue && number(argv[i + 1], 1, INT_MAX / 1000, value)) {
            settings.idleTimeout = std::chrono::seconds(value);
            ++i;
        } else if (arg == "--sa-password-file" && hasValue) {
            passwordFile = argv[++i];
        } else if (arg == "--read-timeout" && hasValue && number(argv[i + 1], 1, INT_MAX / 1000, value)) {
            settings.readTimeout = std::chrono::seconds(value);
            ++i;
        } else if (arg == "--instance" && hasValue) {
            instanceName = argv[++i];
        } else if (arg == "--browser") {
            browser = true;
            // The address and port are optional: a next argument that is not an option gives them.
            if (hasValue && argv[i + 1][0] != '-' &&
                !vopa::server::parseBrowserEndpoint(argv[++i], browserAddress, browserPort)) {
                std::cerr << "vopa-server: bad argument '" << argv[i] << "' for --browser\n" << usage();
                return 2;
            }
        } else if (arg == "--certificate" && hasValue) {
            certificate = argv[++i];
        } else if (arg == "--key" && hasValue) {
            key = argv[++i];
        } else if (arg == "--encryption" && hasValue &&
                   (std::strcmp(argv[i + 1], "required") == 0 || std::strcmp(argv[i + 1], "optional") == 0)) {
            settings.encryption = std::strcmp(argv[++i], "required") == 0 ? vopa::server::EncryptionPolicy::Required
                                                                           : vopa::server::EncryptionPolicy::Optional;
        } else {
            std::cerr << "vopa-server: bad argument '" << arg << "'\n" << usage();
            return 2;
        }
    }
    if (certificate.empty() != key.empty()) {
        std::cerr << "vopa-server: --certificate and --key go together\n" << usage();
        return 2;
    }
    if (settings.serverName.empty()) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        settings.serverName = host;
    }

    // The signals are taken by sigwait below, never by a connection's thread.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    try {
        // A certificate given that cannot serve stops the server before anything is made.
        if (!certificate.empty()) settings.tls = vopa::server::TlsContext::fromFiles(certificate, key);
        // The instance is found (and its master database created) once, before any client comes; a named
        // instance is made the first time it is served.
        if (!instanceName.empty()) {
            const vopa::engine::InstanceLocation named = vopa::engine::createNamedInstance(instanceName);
            if (named.instanceName != "MSSQLSERVER") settings.instance = "(local)\\" + named.instanceName;
        }
        const vopa::engine::InstanceLocation instance = vopa::engine::locateInstance(settings.instance);
        if (!settleSaPassword(instance, passwordFile)) return 1;
        if (!settings.tls) settings.tls = vopa::server::TlsContext::selfSigned(instance.dataFolder, settings.serverName);
        vopa::server::Listener listener(settings);
        // The Browser gives the port the listener has, so it is bound once that one is.
        std::unique_ptr<vopa::server::Browser> resolver;
        if (browser) {
            const vopa::tds::BrowserInstance served{settings.serverName, instance.instanceName,
                                                    vopa::tds::browserVersion(vopa::server::kServerVersion),
                                                    listener.port()};
            resolver = std::make_unique<vopa::server::Browser>(browserAddress, browserPort,
                                                               std::vector<vopa::tds::BrowserInstance>{served});
        }
        std::thread loop([&listener] {
            try {
                listener.run();
            } catch (const std::exception& e) {
                std::cerr << "vopa-server: " << e.what() << '\n';
                ::kill(::getpid(), SIGTERM);
            }
        });
        std::thread answering;
        if (resolver) {
            answering = std::thread([&resolver] {
                try {
                    resolver->run();
                } catch (const std::exception& e) {
                    std::cerr << "vopa-server: browser: " << e.what() << '\n';
                    ::kill(::getpid(), SIGTERM);
                }
            });
        }
        std::cout << "listening on " << endpoint(listener.address(), listener.port()) << std::endl;
        if (resolver)
            std::cout << "browser on " << endpoint(resolver->address(), resolver->port()) << " (UDP), instance "
                      << instance.instanceName << std::endl;
        int signal = 0;
        sigwait(&signals, &signal);
        if (resolver) {
            resolver->stop();
            answering.join();
        }
        listener.stop();
        loop.join();
        std::cout << "stopped" << std::endl;
    } catch (const vopa::engine::EngineError& e) {
        std::cerr << "vopa-server: Msg " << e.number() << ": " << e.what() << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vopa-server: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
