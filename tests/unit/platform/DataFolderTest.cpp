#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/sys/SystemInfo.h"

namespace fs = std::filesystem;

namespace {

fs::path freshFolder(const std::string& name) {
    const fs::path root = fs::temp_directory_path() / ("vopa-datafolder-" + name + "-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(root);
    fs::create_directories(root);
    return root;
}

}  // namespace

// Installed as <prefix>/bin/vopa-training, the program takes its clip from <prefix>/share/qen-training.
TEST(DataFolder, AnInstalledProgramUsesTheSharedFolderOfItsPrefix) {
    const fs::path prefix = freshFolder("installed") / "usr";
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "qen-training");
    EXPECT_EQ(vopa::sys::dataFolderOf((prefix / "bin").string()), (prefix / "share" / "qen-training").string());
    fs::remove_all(prefix.parent_path());
}

// In the build tree (no share/qen-training beside it) the data lies beside the program.
TEST(DataFolder, AProgramOutsideAnInstallationUsesItsOwnFolder) {
    const fs::path root = freshFolder("buildtree");
    fs::create_directories(root / "build" / "src");
    EXPECT_EQ(vopa::sys::dataFolderOf((root / "build" / "src").string()), (root / "build" / "src").string());
    // A folder named bin without the shared folder is not an installation either.
    fs::create_directories(root / "bin");
    EXPECT_EQ(vopa::sys::dataFolderOf((root / "bin").string()), (root / "bin").string());
    fs::remove_all(root);
}
