#pragma once
// What the program learns from the operating system and from its own build: the computer name, the
// version information and the folder the program file lies in.

#include <string>

namespace vopa::sys {

struct Version {
    int major;
    int minor;
    int revision;
};

// The host name, cut at the first NUL and at 255 characters.
std::string computerName();

std::string productName();  // also the standard title of the program's message boxes
std::string legalNotice();
Version version();
std::string versionText();  // "major.minor.revision"

// The folder of the running program file (a Linux path).
std::string programFolder();

// The folder of the program's data files (the build window's clip): <prefix>/share/qen-training when
// the program is installed as <prefix>/bin/NAME and that folder exists, else the program's own folder
// (the build tree, where the build puts the data beside the program).
std::string dataFolder();
std::string dataFolderOf(const std::string& programFolder);  // the same for a program in that folder

}  // namespace vopa::sys
