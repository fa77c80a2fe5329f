#pragma once
// The company's local Access file (.mdb). The program only opens it and holds it open while its
// connection is open, as the suite's other programs expect; it never reads from it.

#include <cstdio>
#include <string>

namespace vopa::jet {

class AccessFile {
public:
    // Opens the file named by a Windows path (through the drive mapper); throws std::runtime_error
    // with the provider's description when it does not exist or cannot be read.
    explicit AccessFile(const std::string& windowsPath);
    ~AccessFile();
    AccessFile(const AccessFile&) = delete;
    AccessFile& operator=(const AccessFile&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

}  // namespace vopa::jet
