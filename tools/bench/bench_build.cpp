// bench-build: the whole training build, run headless on generated demo companies, against SQLite's own
// copy of the same company file (`sqlite3 COMPANY ".backup COPY"`) in the same run.
//
// For each size: a fresh demo installation whose first company holds about that many rows (vopa-demo),
// then the headless build of that company (vopa-build), then the backup of its database
// file. Prints seconds, the ratio build / backup, the rows the build copied per second and the build's
// peak resident memory.
//
// With --through-server, the same build again through unixODBC, the FreeTDS driver and vopa-server on
// the same drive, against a second build in-process (both on the company the first build upgraded):
// the ratio server / in-process.
//
// With --anonymise, a plain build again and an anonymised build (vopa-build --anonymise) of the same
// company: the ratio anonymised / plain.
//
// Usage: bench-build [--rows N]... [--work DIR] [--keep] [--reuse] [--through-server] [--anonymise]
//        (default sizes 1000000 and 10000000)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kUsage =
    "usage: bench-build [--rows N]... [--work DIR] [--keep] [--reuse] [--through-server] [--anonymise]\n"
    "\n"
    "Measures the headless training build on demo companies of about N rows (default 1000000 and\n"
    "10000000) against `sqlite3 COMPANY \".backup COPY\"` of the same company file.\n"
    "  --rows N    a company size to measure (repeatable)\n"
    "  --work DIR  where the demo drives are made (default $TMPDIR/vopa-bench-build)\n"
    "  --keep      keep the demo drives afterwards\n"
    "  --reuse     measure on a demo drive a previous --keep run left (it is not made again)\n"
    "  --through-server\n"
    "              also build through unixODBC, FreeTDS and vopa-server on loopback, against a second\n"
    "              build in-process: prints both times and their ratio\n"
    "  --anonymise also a plain build and an anonymised one (--anonymise) of the same company: prints both\n"
    "              times and their ratio\n"
    "Needs vopa-demo beside this program, vopa-build (and vopa-server) in ../src and the sqlite3 shell on\n"
    "the PATH; --through-server needs the FreeTDS ODBC driver (tdsodbc).\n";

const char* const kFreeTds = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so";
const char* const kSaPassword = "Bench-sa-1";

// The demo gives its first company three fifths of the rows it is asked for.
constexpr double kFirstCompanyShare = 0.6;

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
    std::string output;
};

// Runs `argv` with VOPA_DRIVE_C set to `drive`, its standard output captured (standard error dropped
// unless `showErrors`), and measures its wall time and peak resident memory.
Run run(const std::vector<std::string>& argv, const fs::path& drive, bool showErrors = false,
        const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    const auto started = Clock::now();
    const pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(pipeFds[1], 1);
        if (!showErrors) {
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) dup2(devNull, 2);
        }
        close(pipeFds[0]);
        close(pipeFds[1]);
        setenv("VOPA_DRIVE_C", drive.c_str(), 1);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Run r;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) r.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    r.peakKb = usage.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string valueAfter(const std::string& text, const std::string& prefix) {
    const std::size_t at = text.find(prefix);
    if (at == std::string::npos) return {};
    const std::size_t start = at + prefix.size();
    return text.substr(start, text.find('\n', start) - start);
}

// The report's host path: the headless build's last line ends with it in parentheses.
fs::path reportPath(const std::string& output) {
    const std::size_t open = output.rfind(" (");
    const std::size_t close = output.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    return output.substr(open + 2, close - open - 2);
}

// The company's rows over every table the report verifies (its first count column).
long long companyRows(const fs::path& report) {
    std::ifstream in(report);
    std::string line;
    bool table = false;
    long long rows = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Verifica delle righe", 0) == 0) {
            table = true;
            continue;
        }
        if (!table || line.empty()) continue;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.size() < 4) continue;
        try {
            rows += std::stoll(w[w.size() - 3]);
        } catch (const std::exception&) {
        }
    }
    return rows;
}

// vopa-server serving `drive` on a free loopback port, stopped (SIGTERM) when this goes.
class ServerProcess {
public:
    ServerProcess(const std::string& program, const fs::path& drive) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(pipeFds[1], 1);
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) dup2(devNull, 2);
            close(pipeFds[0]);
            close(pipeFds[1]);
            setenv("VOPA_DRIVE_C", drive.c_str(), 1);
            setenv("VOPA_SA_PASSWORD", kSaPassword, 1);
            execl(program.c_str(), program.c_str(), "--port", "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        FILE* out = fdopen(pipeFds[0], "r");
        char line[256] = {};
        unsigned a, b, c, d;
        if (!out || !std::fgets(line, sizeof line, out) ||
            std::sscanf(line, "listening on %u.%u.%u.%u:%d", &a, &b, &c, &d, &port_) != 5)
            throw std::runtime_error("vopa-server did not start");
        out_ = out;
    }
    ~ServerProcess() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        if (out_) std::fclose(out_);
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    FILE* out_ = nullptr;
};

// Replaces a file for as long as this lives.
class FileSwap {
public:
    FileSwap(fs::path file, const std::string& content) : file_(std::move(file)) {
        std::ifstream in(file_, std::ios::binary);
        saved_.assign(std::istreambuf_iterator<char>(in), {});
        std::ofstream(file_, std::ios::binary) << content;
    }
    ~FileSwap() { std::ofstream(file_, std::ios::binary) << saved_; }

private:
    fs::path file_;
    std::string saved_;
};

// The headless build of company 1, through the server when `port` is not 0.
Run buildCompany(const std::string& program, const fs::path& drive, int port = 0, bool anonymise = false) {
    std::vector<std::string> argv = {program, "--user", "amministratore", "--password", "demo2024", "--yes",
                                     "--company", "1"};
    if (anonymise) argv.push_back("--anonymise");
    if (port == 0) return run(argv, drive);
    FileSwap address(drive / "vopa" / "IndirizzoServer.txt", "Driver=SQL Server;Server=127.0.0.1;UID=;PWD=;\r\n");
    FileSwap name(drive / "vopa" / "NomeServer.txt", "127.0.0.1\r\n");
    return run(argv, drive, false,
               {{"VOPA_ODBC_DRIVER", kFreeTds},
                {"VOPA_ODBC_OPTIONS", "Port=" + std::to_string(port) +
                                          ";TDS_Version=7.4;ClientCharset=UTF-8;UID=sa;PWD=" + kSaPassword + ";"}});
}

// One of two builds compared.
struct Measured {
    const char* name;    // in messages
    const char* column;  // the column's heading
    const Run& run;
};

// Prints the two builds' times and the ratio second / first; false (after saying why) when one failed.
bool compared(long long size, long long rows, const Measured& first, const Measured& second) {
    if (first.run.status != 0 || second.run.status != 0) {
        std::cerr << "bench-build: a build failed (" << first.name << " exit " << first.run.status << ", "
                  << second.name << " exit " << second.run.status << ")\n"
                  << second.run.output;
        return false;
    }
    std::printf("%12s %12s %10s %10s %8s\n", "", "", first.column, second.column, "ratio");
    std::printf("%12lld %12lld %10.2f %10.2f %8.2f\n", size, rows, first.run.seconds, second.run.seconds,
                second.run.seconds / first.run.seconds);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long long> sizes;
    fs::path work = fs::temp_directory_path() / "vopa-bench-build";
    bool keep = false;
    bool reuse = false;
    bool throughServer = false;
    bool anonymise = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rows" && i + 1 < argc) {
            sizes.push_back(std::atoll(argv[++i]));
        } else if (arg == "--work" && i + 1 < argc) {
            work = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else if (arg == "--reuse") {
            reuse = true;
        } else if (arg == "--through-server") {
            throughServer = true;
        } else if (arg == "--anonymise") {
            anonymise = true;
        } else {
            std::cout << kUsage;
            return arg == "--help" || arg == "-h" ? 0 : 1;
        }
    }
    if (sizes.empty()) sizes = {1000000, 10000000};

    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const std::string demo = (here / "vopa-demo").string();
    const std::string program = (here.parent_path() / "src" / "vopa-build").string();
    const std::string server = (here.parent_path() / "src" / "vopa-server").string();
    if (throughServer && (!fs::exists(server) || !fs::exists(kFreeTds))) {
        std::cerr << "bench-build: --through-server needs " << server << " and " << kFreeTds << "\n";
        return 1;
    }
    for (const std::string& p : {demo, program})
        if (!fs::exists(p)) {
            std::cerr << "bench-build: " << p << " is missing (build the release preset first)\n";
            return 1;
        }

    std::printf("%12s %12s %10s %10s %8s %12s %10s\n", "rows", "copied rows", "build s", "backup s", "ratio",
                "rows/s", "peak MB");
    for (const long long size : sizes) {
        const fs::path drive = work / ("drive-" + std::to_string(size));
        const bool made = reuse && fs::exists(drive / "vopa" / "Sedi");
        if (!made) {
            fs::remove_all(drive);
            fs::create_directories(drive);
            const long long demoRows = static_cast<long long>(static_cast<double>(size) / kFirstCompanyShare);
            std::cerr << "bench-build: making a demo installation of " << demoRows << " rows in " << drive << "\n";
            const Run demoRun = run({demo, "--rows", std::to_string(demoRows), "--force"}, drive);
            if (demoRun.status != 0) {
                std::cerr << "bench-build: vopa-demo failed\n";
                return 1;
            }
            std::cerr << "bench-build: demo made in " << demoRun.seconds << " s\n";
        }
        std::cerr << "bench-build: building\n";
        const Run build = buildCompany(program, drive);
        if (build.status != 0) {
            std::cerr << "bench-build: the build failed (exit " << build.status << ")\n" << build.output;
            return 1;
        }
        const std::string database = valueAfter(build.output, "company database: ");
        const fs::path report = reportPath(build.output);
        const long long rows = companyRows(report);
        const fs::path companyFile = drive / "vopa" / "Sedi" / (database + ".mdf");
        const fs::path backupFile = drive / "backup.mdf";
        // Into a new file, as a first copy is: over an old one sqlite3 would journal every page it replaces.
        fs::remove(backupFile);
        std::cerr << "bench-build: backing up " << companyFile << "\n";
        const Run backup = run({"/bin/sh", "-c", "exec sqlite3 \"$0\" \".backup '$1'\"", companyFile.string(),
                                backupFile.string()},
                               drive, true);
        if (backup.status != 0) {
            std::cerr << "bench-build: sqlite3 .backup failed (is the sqlite3 shell installed?)\n";
            return 1;
        }
        std::printf("%12lld %12lld %10.2f %10.2f %8.1f %12.0f %10.1f\n", size, rows, build.seconds, backup.seconds,
                    build.seconds / backup.seconds, static_cast<double>(rows) / build.seconds,
                    static_cast<double>(build.peakKb) / 1024.0);
        std::fflush(stdout);
        std::cerr << "bench-build: report " << report << "\n";
        if (throughServer) {
            std::cerr << "bench-build: building in-process again, then through vopa-server\n";
            const Run again = buildCompany(program, drive);
            Run remote;
            {
                ServerProcess served(server, drive);
                remote = buildCompany(program, drive, served.port());
            }
            if (!compared(size, rows, {"in-process", "in-proc s", again}, {"through the server", "server s", remote}))
                return 1;
        }
        if (anonymise) {
            std::cerr << "bench-build: building again, then anonymised\n";
            const Run plain = buildCompany(program, drive);
            const Run anonymised = buildCompany(program, drive, 0, true);
            if (!compared(size, rows, {"plain", "plain s", plain}, {"anonymised", "anonym. s", anonymised})) return 1;
        }
        if (!keep) fs::remove_all(drive);
    }
    return 0;
}
