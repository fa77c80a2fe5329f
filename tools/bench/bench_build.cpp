// bench-build: the whole training build, run headless on generated demo companies, against SQLite's own
// copy of the same company file (`sqlite3 COMPANY ".backup COPY"`) in the same run.
//
// For each size: a fresh demo installation whose first company holds about that many rows (vopa-demo),
// then the headless build of that company (vopa-build), then the backup of its database
// file. Prints seconds, the ratio build / backup, the rows the build copied per second and the build's
// peak resident memory.
//
// Usage: bench-build [--rows N]... [--work DIR] [--keep] [--reuse]   (default sizes 1000000 and 10000000)

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kUsage =
    "usage: bench-build [--rows N]... [--work DIR] [--keep] [--reuse]\n"
    "\n"
    "Measures the headless training build on demo companies of about N rows (default 1000000 and\n"
    "10000000) against `sqlite3 COMPANY \".backup COPY\"` of the same company file.\n"
    "  --rows N    a company size to measure (repeatable)\n"
    "  --work DIR  where the demo drives are made (default $TMPDIR/vopa-bench-build)\n"
    "  --keep      keep the demo drives afterwards\n"
    "  --reuse     measure on a demo drive a previous --keep run left (it is not made again)\n"
    "Needs vopa-demo beside this program, vopa-build in ../src and the sqlite3 shell on the PATH.\n";

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
Run run(const std::vector<std::string>& argv, const fs::path& drive, bool showErrors = false) {
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

}  // namespace

int main(int argc, char** argv) {
    std::vector<long long> sizes;
    fs::path work = fs::temp_directory_path() / "vopa-bench-build";
    bool keep = false;
    bool reuse = false;
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
        } else {
            std::cout << kUsage;
            return arg == "--help" || arg == "-h" ? 0 : 1;
        }
    }
    if (sizes.empty()) sizes = {1000000, 10000000};

    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    const std::string demo = (here / "vopa-demo").string();
    const std::string program = (here.parent_path() / "src" / "vopa-build").string();
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
        const Run build =
            run({program, "--user", "amministratore", "--password", "demo2024", "--yes", "--company", "1"}, drive);
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
        if (!keep) fs::remove_all(drive);
    }
    return 0;
}
