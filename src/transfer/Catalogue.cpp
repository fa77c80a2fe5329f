#include "Catalogue.h"

#include <sstream>
#include <stdexcept>

#include "util/Helpers.h"

namespace vopa::embedded {
extern const char catalogueText[];
}

namespace vopa::transfer {
namespace {

const char* const kCrLf = "\r\n";

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == separator || text[i + 1] == '\\')) {
            current.push_back(text[i + 1]);
            ++i;
        } else if (text[i] == separator) {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(text[i]);
        }
    }
    parts.push_back(current);
    return parts;
}

[[noreturn]] void corrupt(const std::string& line) { throw std::logic_error("catalogue damaged: " + line); }

}  // namespace

bool CatalogueEntry::hasFlag(std::string_view flag) const {
    for (const std::string& f : flags)
        if (f == flag) return true;
    return false;
}

std::string CatalogueEntry::guardKey() const {
    for (const std::string& f : flags)
        if (f.rfind("guard=", 0) == 0) return f.substr(6);
    return {};
}

const std::vector<CatalogueEntry>& catalogue() {
    static const std::vector<CatalogueEntry> entries = [] {
        std::vector<CatalogueEntry> result;
        std::istringstream in(embedded::catalogueText);
        std::string line;
        int group = 0;
        ErrorMode mode = ErrorMode::Silent;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty() || line[0] == '#') continue;
            if (line.rfind("group ", 0) == 0) {
                std::istringstream words(line.substr(6));
                std::string modeText;
                words >> group >> modeText;
                mode = modeText == "silent" ? ErrorMode::Silent
                       : modeText == "message" ? ErrorMode::Message
                       : modeText == "message_flag" ? ErrorMode::MessageAndFlag
                                                    : (corrupt(line), ErrorMode::Silent);
                continue;
            }
            std::vector<std::string> f = split(line, '\t');
            if (f.size() != 5 || group == 0) corrupt(line);
            CatalogueEntry e;
            e.position = f[0] == "-" ? 0 : std::stoi(f[0]);  // 0: a switch without a numbered copy
            e.group = group;
            e.mode = mode;
            e.table = f[1];
            if (f[2] != "-") e.flags = split(f[2], ',');
            if (f[3] != "-") e.insertColumns = split(f[3], ',');
            if (f[4] == "=") {
                e.selectItems = e.insertColumns;
                e.isConstant.assign(e.selectItems.size(), false);
            } else if (f[4] != "-") {
                for (const std::string& item : split(f[4], ',')) {
                    const bool constant = item.rfind("const:", 0) == 0;
                    e.selectItems.push_back(constant ? item.substr(6) : item);
                    e.isConstant.push_back(constant);
                }
            }
            result.push_back(std::move(e));
        }
        return result;
    }();
    return entries;
}

std::string sourceClause(std::string_view companyDatabase, std::string_view table) {
    return std::string(kCrLf) + " from " + util::identifier(companyDatabase) + ".[dbo]." + util::identifier(table);
}

std::string identitySwitch(std::string_view table, bool on) {
    return "set identity_insert  [VoPaDatiTraining].[dbo]." + util::identifier(table) + (on ? " ON" : " OFF");
}

std::string copyStatement(const CatalogueEntry& entry, std::string_view companyDatabase) {
    const std::string target = "[VoPaDatiTraining].[dbo]." + util::identifier(entry.table);
    std::string s = "Insert into " + target + "(";
    for (std::size_t i = 0; i < entry.insertColumns.size(); ++i)
        s += std::string(kCrLf) + "   " + util::identifier(entry.insertColumns[i]) +
             (i + 1 < entry.insertColumns.size() ? "," : "");
    s += std::string(kCrLf) + ") select";
    for (std::size_t i = 0; i < entry.selectItems.size(); ++i) {
        const std::string item = entry.isConstant[i] ? entry.selectItems[i] : util::identifier(entry.selectItems[i]);
        s += std::string(kCrLf) + "   " + item + (i + 1 < entry.selectItems.size() ? "," : "");
    }
    s += std::string(kCrLf) + sourceClause(companyDatabase, entry.table);
    const std::string key = entry.guardKey();
    if (!key.empty()) {
        s += std::string(kCrLf) + " where not exists(select" + kCrLf + "   " + util::identifier(key) + kCrLf + " from " +
             target + kCrLf + " where " + target + "." + util::identifier(key) + "=" + kCrLf + " " +
             util::identifier(companyDatabase) + ".[dbo]." + util::identifier(entry.table) + "." +
             util::identifier(key) + ")";
    }
    return s;
}

}  // namespace vopa::transfer
