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

}  // namespace vopa::sys
