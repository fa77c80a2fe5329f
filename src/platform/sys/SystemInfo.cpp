#include "SystemInfo.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "VersionInfo.h"

namespace vopa::sys {

std::string computerName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    buffer[255] = '\0';
    std::string name(buffer);  // stops at the first NUL
    if (name.size() > 255) name.resize(255);
    return name;
}

std::string productName() { return VOPA_PRODUCT_NAME; }
std::string legalNotice() { return VOPA_LEGAL_NOTICE; }
Version version() { return {VOPA_VERSION_MAJOR, VOPA_VERSION_MINOR, VOPA_VERSION_REVISION}; }

std::string versionText() {
    Version v = version();
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

std::string programFolder() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path().string();
    return exe.parent_path().string();
}

std::string dataFolder() { return dataFolderOf(programFolder()); }

std::string dataFolderOf(const std::string& programFolder) {
    const std::filesystem::path program(programFolder);
    const std::filesystem::path installed = program.parent_path() / "share" / "qen-training";
    std::error_code ec;
    if (program.filename() == "bin" && std::filesystem::is_directory(installed, ec)) return installed.string();
    return program.string();
}

}  // namespace vopa::sys
