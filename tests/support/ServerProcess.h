#pragma once
// vopa-server started by a test on a free loopback port, serving the drive C: the test has set up
// (VOPA_DRIVE_C, and VOPA_SA_PASSWORD for its first start, from the test's environment).

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vopa::testing {

class ServerProcess {
public:
    // Runs `program --port 0 options...` and waits for its "listening on ADDRESS:PORT" line (and, with
    // --browser among the options, its "browser on ADDRESS:PORT" line); throws when it does not come.
    explicit ServerProcess(const std::string& program, const std::vector<std::string>& options = {});
    // Stops it as a service manager does (SIGTERM) if the test has not.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // SIGTERM and wait: the exit status (128 + the signal when a signal ended it).
    int stop();
    int port() const { return port_; }
    int browserPort() const { return browserPort_; }

private:
    pid_t pid_ = 0;
    int port_ = 0;
    int browserPort_ = 0;
    FILE* stdout_ = nullptr;
};

}  // namespace vopa::testing
