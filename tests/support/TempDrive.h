#pragma once
// A fresh, empty drive C: for one test: VOPA_DRIVE_C points at a new temporary folder, which is removed
// (and the variable and current folder restored) afterwards.

#include <filesystem>
#include <optional>
#include <string>

namespace vopa::testing {

class TempDrive {
public:
    TempDrive();
    ~TempDrive();
    TempDrive(const TempDrive&) = delete;
    TempDrive& operator=(const TempDrive&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Raw bytes of a file below the root, named by a relative path ("vopa/NomeServer.txt"); writing
    // takes the spelling as given, reading and exists() ignore case as the program does.
    void writeRaw(const std::string& relative, const std::string& bytes) const;
    std::string readRaw(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    // An installation whose server and local server are this machine's default instance: the four
    // configuration files of C:\vopa and the data folder C:\Vopa\Sedi.
    void writeLocalInstallation() const;

private:
    std::filesystem::path root_;
    std::filesystem::path previousCwd_;
    std::optional<std::string> previousValue_;
};

}  // namespace vopa::testing
