#include "HeadlessBuild.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "config/ConfigFiles.h"
#include "flow/ProgramFlow.h"
#include "platform/files/Files.h"
#include "platform/text/HelpText.h"
#include "platform/ui/ConsoleMessageService.h"
#include "signin/SignIn.h"
#include "state/GlobalState.h"
#include "util/Helpers.h"

namespace vopa::embedded {
extern const char vopaBuildHelp[];
}

namespace vopa::headless {
namespace {

// The usage text for the way the program was started: vopa-build's help (headless/help.txt). --build is
// accepted by both programs, so that a command line written for one runs the other; for
// "vopa-training --build" the usage line names that command and --build is what starts the build.
std::string usage(const std::string& command) {
    std::string text = text::helpText(embedded::vopaBuildHelp);
    const std::string program = "usage: vopa-build";
    if (text.rfind(program, 0) == 0) text.replace(0, program.size(), "usage: " + command);
    if (command.find(' ') != std::string::npos) {
        const std::size_t line = text.find("\n  --build ");
        const std::size_t end = line == std::string::npos ? line : text.find('\n', line + 1);
        if (end != std::string::npos)
            text.replace(line + 1, end - line - 1, "  --build           run the headless build instead of the windows");
    }
    return text;
}

// One line per step; on a terminal the current table rewrites one more line.
class TerminalObserver final : public training::BuildObserver {
public:
    TerminalObserver() : terminal_(isatty(fileno(stderr)) != 0) {}
    void stepStarted(const std::string& step, int number, int count) override {
        endTableLine();
        std::cerr << "== " << number << "/" << count << " " << step << std::endl;
    }
    void currentTable(const std::string& table, int index, int count) override {
        if (!terminal_) return;
        std::cerr << "\r   " << table;
        if (count > 0) std::cerr << " (" << index << "/" << count << ")";
        std::cerr << "\033[K" << std::flush;
        tableLine_ = true;
    }
    void note(const std::string& text) override {
        endTableLine();
        std::cerr << "   " << text << std::endl;
    }
    ~TerminalObserver() override { endTableLine(); }

private:
    void endTableLine() {
        if (tableLine_) std::cerr << std::endl;
        tableLine_ = false;
    }
    bool terminal_;
    bool tableLine_ = false;
};

// A company id as the registry holds it: a whole number above 0, written in digits only.
double companyId(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stol(text) == 0)
        throw std::invalid_argument("--company needs a company id (a whole number above 0), not \"" + text + "\"");
    return static_cast<double>(std::stol(text));
}

// Ctrl-C (or a service manager's SIGTERM) stops the build after the statement that is running; the
// build then ends as an interrupted one, with its report.
std::atomic<bool> stopRequested{false};
extern "C" void requestStop(int) {
    stopRequested.store(true);
}

}  // namespace

bool wantsHeadlessBuild(const std::vector<std::string>& arguments) {
    for (const std::string& a : arguments)
        if (a == "--build") return true;
    return false;
}

HeadlessOptions readHeadlessOptions(const std::vector<std::string>& arguments, std::istream& input,
                                    const char* environmentPassword) {
    HeadlessOptions options;
    std::optional<std::string> password;
    bool passwordFromInput = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(a + " needs a value");
            return arguments[++i];
        };
        if (a == "--help" || a == "-h") {
            options.help = true;
            return options;
        } else if (a == "--build") {
        } else if (a == "--user") {
            options.user = value();
        } else if (a == "--password") {
            password = value();
        } else if (a == "--password-stdin") {
            passwordFromInput = true;
        } else if (a == "--yes") {
            options.yes = true;
        } else if (a == "--company") {
            options.company = companyId(value());
        } else if (a == "--anonymise" || a == "--anonymize") {
            options.anonymise = true;
        } else {
            throw std::invalid_argument("unknown option " + a);
        }
    }
    if (options.user.empty()) throw std::invalid_argument("--user is required");
    if (!password && passwordFromInput) {
        std::string line;
        if (!std::getline(input, line)) throw std::invalid_argument("--password-stdin: standard input is empty");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        password = line;
    }
    if (!password && environmentPassword) password = environmentPassword;
    options.password = password.value_or(std::string());
    return options;
}

int runHeadlessBuild(const std::vector<std::string>& arguments, const std::string& command) {
    const std::string program = command.substr(0, command.find(' ')) + ": ";
    HeadlessOptions args;
    try {
        args = readHeadlessOptions(arguments, std::cin, std::getenv("VOPA_PASSWORD"));
    } catch (const std::exception& e) {
        std::cerr << program << e.what() << "\n" << usage(command);
        return 2;
    }
    if (args.help) {
        std::cout << usage(command);
        return 0;
    }
    ui::ConsoleMessageService messages(std::cerr, args.yes ? ui::Answer::Yes : ui::Answer::No);
    ui::installMessageService(&messages);
    flow::ProgramFlow flow(state::globals());
    const flow::Preconditions preconditions = flow.begin();
    if (!preconditions.installed) {
        std::cerr << program << "no installation under " << files::driveRoot('C').string() << " (missing "
                  << config::kServerAddressFile << ")\n";
        return 1;
    }
    if (preconditions.driveProblem) {
        std::cerr << program << *preconditions.driveProblem << "\n";
        return 1;
    }

    // The windows' steps straight through: start-up, sign-in, main window, build.
    const flow::StartupResult startup = flow.startUp(args.company);
    const std::string company = util::numberText(args.company);
    switch (startup.outcome) {
        case flow::StartupOutcome::NoSuchCompany:
            std::cerr << program << "there is no company " << company << " in the registry (link_programma)\n";
            return 1;
        case flow::StartupOutcome::DatabaseMissing:
            std::cerr << program << "the database " << startup.database << " of company " << company
                      << " is not on the server\n";
            return 1;
        case flow::StartupOutcome::CompanyNotOpened:
            std::cerr << program << "company " << company << " could not be opened\n";
            return 1;
        case flow::StartupOutcome::SignIn:
            if (flow.signInWith(args.user, args.password) != signin::SignInOutcome::ShowMainWindow) {
                std::cerr << program << "the sign-in of " << signin::normalise(args.user) << " failed\n";
                return 1;
            }
            break;
        case flow::StartupOutcome::MainWindow: break;
    }
    if (!flow.openMainWindow()) {
        std::cerr << program << "the company database cannot be reached\n";
        return 1;
    }
    flow.mainWindowActivated();
    if (flow.userMayBuild() == flow::BuildPermission::NotAdministrator) {
        std::cerr << program << signin::normalise(args.user) << " has not the administrator right the build needs\n";
        return 1;
    }
    if (flow.officeAllowsBuild() != flow::BuildPermission::Allowed) return 1;
    std::cout << "company database: " << flow.state().CompanyDatabaseName << std::endl;

    TerminalObserver observer;
    training::BuildOptions options{training::standardCopyStep()};
    options.stop = &stopRequested;
    options.anonymise = args.anonymise;
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    const training::BuildResult result = flow.runBuild(observer, options);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (result.outcome == training::BuildOutcome::Declined || result.outcome == training::BuildOutcome::Refused) {
        std::cout << "the build was not started" << std::endl;
        return 1;
    }
    if (result.copyEnded)
        std::cout << result.summary.complete << " of " << result.summary.tables << " tables copied completely";
    else
        std::cout << "the build did not complete";
    if (result.anonymised) {
        long long rows = 0;
        for (const training::AnonymisedColumn& c : result.anonymisedColumns) rows += c.rows;
        std::cout << "; personal data anonymised: " << rows << " values in " << result.anonymisedColumns.size()
                  << " columns";
    }
    for (const std::string& failure : result.failures) std::cout << "; " << failure;
    if (result.summary.written)
        std::cout << "; report: " << result.summary.reportFile << " ("
                  << files::mapPath(result.summary.reportFile).string() << ")" << std::endl;
    else
        std::cout << "; the report could not be written: " << result.summary.writeError << std::endl;
    // The build is where the headless run ends: the end-of-program step (the suite's system data source,
    // the company defaults of the registry) is the windows' door button and does not run here.
    return result.complete() ? 0 : 1;
}

}  // namespace vopa::headless
