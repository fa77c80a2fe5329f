#pragma once
// The program's view of drive C:. Every Windows path it composes ("C:\vopa\IndirizzoServer.txt",
// "C:\Vopa\Sedi\x.mdf", a relative "FILECOPY.avi") goes through mapPath() to a Linux path under a drive
// root. Names compare case-insensitively, as on Windows: "C:\vopa" and "C:\Vopa" reach the same folder,
// whichever spelling created it.
//
// The drive root is $VOPA_DRIVE_C, or ~/.local/share/vopa/drive_c ($XDG_DATA_HOME honoured) when unset.
// Other drive letters map to $VOPA_DRIVE_<LETTER>, or to drive_<letter> beside the C root.
//
// Text files of the suite are single-byte Windows-1252; they are read and written so (a UTF-8 file that
// starts with a byte-order mark is read as UTF-8). In the program every text is UTF-8.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vopa::files {

// A failed file operation, with the platform's error number (53 file not found, 62 input past end of
// file, 75 path/file access error, 76 path not found) and a readable description.
class FileError : public std::runtime_error {
public:
    FileError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

std::filesystem::path driveRoot(char letter = 'C');

// Windows path -> Linux path. Absolute ("C:\a\b"), drive-relative ("\a\b") and relative ("a\b") paths are
// accepted, with "\" or "/" as separators; relative ones resolve against the current folder. Existing
// components are found whatever their case; the rest keep the spelling given.
std::filesystem::path mapPath(std::string_view windowsPath);

bool fileExists(std::string_view windowsPath);    // a regular file
bool folderExists(std::string_view windowsPath);  // a directory
void deleteFile(std::string_view windowsPath);    // FileError 53 when there is no such file
void createFolder(std::string_view windowsPath);  // with its parents; nothing when it exists
void setCurrentFolder(std::string_view windowsPath);  // FileError 76 when the folder does not exist

// First line of a text file, up to (not including) the first CR or LF. FileError 53 when the file is
// missing, 62 when it is empty.
std::string readFirstLine(std::string_view windowsPath);

// Replaces the file by one holding exactly `text` (no line break added); when the write fails the old
// file stays as it was. Missing folders are created.
void writeTextFile(std::string_view windowsPath, std::string_view text);

}  // namespace vopa::files
