#include "Files.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/text/Text.h"

namespace fs = std::filesystem;

namespace vopa::files {
namespace {

fs::path defaultDataHome() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "vopa";
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".local/share/vopa";
    return fs::temp_directory_path() / "vopa";
}

// Finds `name` inside `dir` ignoring case; returns the name as it is spelled on disk, or `name` itself.
std::string resolveComponent(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    if (fs::exists(dir / name, ec)) return name;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string candidate = it->path().filename().string();
        if (text::equalsNoCase(candidate, name)) return candidate;
    }
    return name;
}

// Appends the components of `rest` to `base`. ".." never climbs above `base`, as Windows stops at a
// drive's root: every path stays below the folder it started from.
fs::path appendComponents(fs::path base, std::string_view rest) {
    std::string component;
    int depth = 0;
    auto flush = [&] {
        if (component.empty() || component == ".") {
        } else if (component == "..") {
            if (depth > 0) {
                base = base.parent_path();
                --depth;
            }
        } else {
            ++depth;
            base /= resolveComponent(base, component);
        }
        component.clear();
    };
    for (char c : rest) {
        if (c == '\\' || c == '/')
            flush();
        else
            component.push_back(c);
    }
    flush();
    return base;
}

std::string describe(const fs::path& p) { return "'" + p.string() + "'"; }

}  // namespace

fs::path driveRoot(char letter) {
    char upper = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - 32 : letter);
    std::string variable = std::string("VOPA_DRIVE_") + upper;
    if (const char* root = std::getenv(variable.c_str()); root && *root) return fs::absolute(root);
    fs::path cRoot = upper == 'C' ? defaultDataHome() / "drive_c" : driveRoot('C').parent_path();
    if (upper == 'C') return cRoot;
    return cRoot / (std::string("drive_") + static_cast<char>(upper + 32));
}

fs::path mapPath(std::string_view windowsPath) {
    std::string_view p = windowsPath;
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
        // "C:rel" (relative to the drive's current folder) is taken as relative to the drive root.
        return appendComponents(driveRoot(p[0]), p.substr(2));
    }
    if (!p.empty() && (p[0] == '\\' || p[0] == '/')) return appendComponents(driveRoot('C'), p);
    // A relative path starts from the current folder; inside a drive it cannot climb above the drive's
    // root either.
    const fs::path current = fs::current_path();
    const fs::path cRoot = driveRoot('C').lexically_normal();
    const fs::path inside = current.lexically_relative(cRoot);
    if (!inside.empty() && *inside.begin() != "..") return appendComponents(cRoot, inside.generic_string() + "/" + std::string(p));
    return appendComponents(current, p);
}

bool fileExists(std::string_view windowsPath) {
    std::error_code ec;
    return fs::is_regular_file(mapPath(windowsPath), ec);
}

bool folderExists(std::string_view windowsPath) {
    std::error_code ec;
    return fs::is_directory(mapPath(windowsPath), ec);
}

void deleteFile(std::string_view windowsPath) {
    fs::path p = mapPath(windowsPath);
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) throw FileError(53, "File not found: " + describe(p));
    if (!fs::remove(p, ec) || ec) throw FileError(75, "Cannot delete " + describe(p) + ": " + ec.message());
}

void createFolder(std::string_view windowsPath) {
    fs::path p = mapPath(windowsPath);
    std::error_code ec;
    fs::create_directories(p, ec);
    if (ec) throw FileError(76, "Cannot create the folder " + describe(p) + ": " + ec.message());
}

void setCurrentFolder(std::string_view windowsPath) {
    fs::path p = mapPath(windowsPath);
    std::error_code ec;
    fs::current_path(p, ec);
    if (ec) throw FileError(76, "Path not found: " + describe(p));
}

std::string readFirstLine(std::string_view windowsPath) {
    fs::path p = mapPath(windowsPath);
    std::ifstream in(p, std::ios::binary);
    if (!in || fs::is_directory(p)) throw FileError(53, "File not found: " + describe(p));
    std::string bytes;
    bool anything = false;
    for (char c; in.get(c);) {
        anything = true;
        if (c == '\r' || c == '\n') break;
        bytes.push_back(c);
    }
    if (!anything) throw FileError(62, "Input past end of file: " + describe(p));
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return bytes.substr(3);
    return text::fromWindows1252(bytes);
}

void writeTextFile(std::string_view windowsPath, std::string_view text) {
    // The new content goes to a file beside the old one and then takes its place, so that a failed
    // write leaves the old file as it was.
    const fs::path p = mapPath(windowsPath);
    std::error_code ec;
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
    const fs::path temporary = fs::path(p.string() + ".new");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string bytes = text::toWindows1252(text);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            const std::string reason = std::strerror(errno);
            fs::remove(temporary, ec);
            throw FileError(75, "Cannot write " + describe(p) + ": " + reason);
        }
    }
    fs::rename(temporary, p, ec);
    if (ec) {
        fs::remove(temporary, ec);
        throw FileError(75, "Cannot replace " + describe(p) + ": " + ec.message());
    }
}

}  // namespace vopa::files
