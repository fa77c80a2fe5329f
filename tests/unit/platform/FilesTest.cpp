#include <gtest/gtest.h>

#include "platform/files/Files.h"
#include "support/TempDrive.h"

namespace files = vopa::files;
namespace fs = std::filesystem;
using vopa::testing::TempDrive;

namespace {

TEST(DriveMapper, ReachesTheSameFolderWhateverTheSpelling) {
    TempDrive drive;
    drive.writeRaw("Vopa/Sedi/Dati.mdf", "x");
    const char* spellings[] = {"C:\\vopa\\sedi\\dati.mdf", "C:\\VOPA\\SEDI\\DATI.MDF", "c:/Vopa/Sedi/Dati.mdf",
                               "C:\\Vopa\\\\Sedi\\Dati.mdf", "\\vopa\\Sedi\\.\\Dati.mdf",
                               "C:\\Vopa\\Files\\..\\Sedi\\Dati.mdf"};
    for (const char* path : spellings) {
        EXPECT_EQ(files::mapPath(path), drive.root() / "Vopa/Sedi/Dati.mdf") << path;
        EXPECT_TRUE(files::fileExists(path)) << path;
    }
    // A component that does not exist yet keeps the spelling it was given.
    EXPECT_EQ(files::mapPath("C:\\VOPA\\Nuova\\x.txt"), drive.root() / "Vopa/Nuova/x.txt");
    EXPECT_TRUE(files::folderExists("c:\\vopa\\SEDI"));
    EXPECT_FALSE(files::fileExists("C:\\vopa\\sedi"));
}

TEST(DriveMapper, ResolvesRelativePathsAgainstTheCurrentFolder) {
    TempDrive drive;
    drive.writeRaw("Programma/FILECOPY.avi", "avi");
    files::setCurrentFolder("C:\\programma");
    EXPECT_EQ(fs::current_path(), drive.root() / "Programma");
    EXPECT_TRUE(files::fileExists("filecopy.AVI"));
    EXPECT_EQ(files::mapPath("sub\\a.txt"), drive.root() / "Programma/sub/a.txt");
    EXPECT_THROW(files::setCurrentFolder("C:\\missing"), files::FileError);
}

TEST(DriveMapper, NeverClimbsAboveTheDriveRoot) {
    TempDrive drive;
    drive.writeRaw("Programma/sub/x.txt", "x");
    const struct {
        const char* path;
        const char* expected;  // below the drive root
    } cases[] = {
        {"C:\\..\\x.db", "x.db"},
        {"C:\\a\\..\\..\\..\\b\\x.db", "b/x.db"},
        {"\\..\\..\\etc\\passwd", "etc/passwd"},
        {"c:/../../tmp/x", "tmp/x"},
        {"C:..\\x", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(files::mapPath(c.path), drive.root() / c.expected) << c.path;
    // From a folder of the drive, a relative path stops at the drive's root too.
    files::setCurrentFolder("C:\\Programma\\sub");
    EXPECT_EQ(files::mapPath("..\\..\\..\\..\\x.db"), drive.root() / "x.db");
    EXPECT_EQ(files::mapPath("..\\y.db"), drive.root() / "Programma/y.db");
}

TEST(TextFiles, ReadTheFirstLineInWindows1252) {
    TempDrive drive;
    struct Case {
        const char* bytes;
        const char* line;
    };
    const Case cases[] = {
        {"Driver=SQL Server;Server=X;\r\nsecond", "Driver=SQL Server;Server=X;"}, {"only line", "only line"},
        {"lf\nsecond", "lf"}, {"cr\rsecond", "cr"}, {"Citt\xE0", "Città"}, {"\xEF\xBB\xBF" "Città utf8", "Città utf8"},
        {"\r\nafter an empty line", ""},
    };
    for (const Case& c : cases) {
        drive.writeRaw("vopa/f.txt", c.bytes);
        EXPECT_EQ(files::readFirstLine("C:\\Vopa\\F.TXT"), c.line) << c.bytes;
    }
    drive.writeRaw("vopa/empty.txt", "");
    try {
        files::readFirstLine("C:\\vopa\\empty.txt");
        FAIL() << "an empty file has no first line";
    } catch (const files::FileError& e) {
        EXPECT_EQ(e.number(), 62);
    }
    try {
        files::readFirstLine("C:\\vopa\\missing.txt");
        FAIL() << "a missing file has no first line";
    } catch (const files::FileError& e) {
        EXPECT_EQ(e.number(), 53);
    }
}

TEST(TextFiles, WriterReplacesTheFileWithExactlyTheText) {
    TempDrive drive;
    drive.writeRaw("Vopa/NomeServerLocal.txt", "old content that is longer\r\n");
    files::writeTextFile("C:\\vopa\\nomeserverlocal.txt", "PC\\sqlexpress è");
    EXPECT_EQ(drive.readRaw("Vopa/NomeServerLocal.txt"), "PC\\sqlexpress \xE8");
    // Missing folders are created.
    files::writeTextFile("C:\\New\\Folder\\x.txt", "");
    EXPECT_EQ(drive.readRaw("New/Folder/x.txt"), "");

    // A file that cannot be replaced (a folder stands in its place) fails cleanly, leaving nothing behind.
    drive.writeRaw("Vopa/Cartella/dentro.txt", "x");
    EXPECT_THROW(files::writeTextFile("C:\\Vopa\\Cartella", "testo"), files::FileError);
    EXPECT_FALSE(drive.exists("Vopa/Cartella.new"));
    EXPECT_EQ(drive.readRaw("Vopa/Cartella/dentro.txt"), "x");

    files::deleteFile("C:\\VOPA\\NOMESERVERLOCAL.TXT");
    EXPECT_FALSE(drive.exists("Vopa/NomeServerLocal.txt"));
    EXPECT_THROW(files::deleteFile("C:\\vopa\\NomeServerLocal.txt"), files::FileError);
}


TEST(DriveMapper, DriveRootsComeFromTheEnvironmentOrBesideDriveC) {
    TempDrive drive;
    EXPECT_EQ(files::driveRoot('c'), drive.root());
    EXPECT_EQ(files::driveRoot('D'), drive.root().parent_path() / "drive_d");
    setenv("VOPA_DRIVE_D", "/tmp/altro", 1);
    EXPECT_EQ(files::mapPath("d:\\Dati\\x.mdf"), fs::path("/tmp/altro/Dati/x.mdf"));
    unsetenv("VOPA_DRIVE_D");
    unsetenv("VOPA_DRIVE_C");
    setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(files::driveRoot('C'), fs::path("/tmp/xdg/vopa/drive_c"));
    unsetenv("XDG_DATA_HOME");
    setenv("VOPA_DRIVE_C", drive.root().c_str(), 1);
}

}  // namespace
