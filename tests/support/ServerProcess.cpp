#include "support/ServerProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

extern char** environ;

namespace vopa::testing {
namespace {

// The port of a line "<what> on A.B.C.D:PORT"; throws otherwise.
int portOf(FILE* out, const char* format, const char* what) {
    char line[256] = {};
    unsigned a, b, c, d, port;
    if (!std::fgets(line, sizeof line, out)) throw std::runtime_error(std::string("vopa-server printed no ") + what);
    if (std::sscanf(line, format, &a, &b, &c, &d, &port) != 5)
        throw std::runtime_error(std::string("vopa-server printed '") + line + "' in place of its " + what);
    return static_cast<int>(port);
}

}  // namespace

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& options) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<const char*> argv = {program.c_str(), "--port", "0"};
    for (const std::string& o : options) argv.push_back(o.c_str());
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + program);
    }
    stdout_ = ::fdopen(out[0], "r");
    try {
        port_ = portOf(stdout_, "listening on %u.%u.%u.%u:%u", "listening line");
        if (std::find(options.begin(), options.end(), "--browser") != options.end())
            browserPort_ = portOf(stdout_, "browser on %u.%u.%u.%u:%u", "browser line");
    } catch (...) {
        stop();
        throw;
    }
}

ServerProcess::~ServerProcess() {
    if (pid_) stop();
}

int ServerProcess::stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    std::fclose(stdout_);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vopa::testing
