#include "ConfigFiles.h"

#include "ConnectionStrings.h"
#include "platform/files/Files.h"

namespace vopa::config {
namespace {

// The value after the first of the two keys found in `address`, up to the next ";".
std::string valueAfterKey(std::string_view address, std::string_view key, std::string_view fallbackKey) {
    std::size_t p = address.find(key);
    std::size_t k = key.size();
    if (p == std::string_view::npos) {
        p = address.find(fallbackKey);
        k = fallbackKey.size();
    }
    if (p == std::string_view::npos) return {};
    std::size_t start = p + k;
    std::size_t end = address.find(';', start);
    if (end == std::string_view::npos)
        throw ConfigError("The server address in " + std::string(kServerAddressFile) + " has no \";\" after \"" +
                          std::string(address.substr(p + 1, k - 1)) + "\".");
    return std::string(address.substr(start, end - start));
}

}  // namespace

std::string readServerAddress(state::GlobalState& g) {
    std::string address = files::readFirstLine(kServerAddressFile);
    g.ServerName = files::readFirstLine(kServerNameFile);
    return address;
}

std::string readLocalConnection(const state::GlobalState& g) {
    const std::string fallback = defaultLocalConnection(g.ComputerName);
    try {
        return files::readFirstLine(kLocalConnectionFile);
    } catch (const files::FileError&) {
        try {
            files::writeTextFile(kDefaultLocalAddressFile, fallback);
        } catch (const files::FileError&) {
            // The default still serves this run; the file is only a record for the suite's other programs.
        }
        return fallback;
    }
}

std::string readLocalServerName(const state::GlobalState& g) {
    std::string result = g.ComputerName;
    try {
        result = files::readFirstLine(kLocalServerNameFile);
        return result;
    } catch (const files::FileError&) {
        try {
            // The connection file gets a complete connection text, never the bare server name, because
            // the local-connection reader hands its first line to a connection as it stands; an
            // existing one is the administrator's setting and is kept.
            if (!files::fileExists(kLocalConnectionFile))
                files::writeTextFile(kLocalConnectionFile, defaultLocalConnection(g.ComputerName));
            files::writeTextFile(kLocalServerNameFile, g.ComputerName + "\\sqlexpress");
        } catch (const files::FileError&) {
            // Nothing to repair with: the next call tries again.
        }
        return result;
    }
}

std::string userInAddress(std::string_view address) { return valueAfterKey(address, ";UID=", ";ID utente="); }

std::string passwordInAddress(std::string_view address) { return valueAfterKey(address, ";PWD=", ";Password="); }

std::string readServerUser(state::GlobalState& g) { return userInAddress(readServerAddress(g)); }

std::string readServerPassword(state::GlobalState& g) { return passwordInAddress(readServerAddress(g)); }

}  // namespace vopa::config
