#include "AccessFile.h"

#include <filesystem>
#include <stdexcept>

#include "platform/files/Files.h"

namespace vopa::jet {

AccessFile::AccessFile(const std::string& windowsPath) : path_(windowsPath) {
    const std::filesystem::path mapped = files::mapPath(windowsPath);
    std::error_code ec;
    if (windowsPath.empty() || !std::filesystem::is_regular_file(mapped, ec))
        throw std::runtime_error("Could not find file '" + windowsPath + "'.");
    file_ = std::fopen(mapped.c_str(), "rb");
    if (!file_)
        throw std::runtime_error("The Microsoft Jet database engine cannot open the file '" + windowsPath +
                                 "'. It is already opened exclusively by another user, or you need permission to "
                                 "view its data.");
}

AccessFile::~AccessFile() {
    if (file_) std::fclose(file_);
}

}  // namespace vopa::jet
