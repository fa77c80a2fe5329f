#include "ConnectionString.h"

#include <algorithm>

#include "platform/text/Text.h"

namespace vopa::data {
namespace {

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

ConnectionString::ConnectionString(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eq = text.find('=', pos);
        std::size_t semi = text.find(';', pos);
        if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
            // A piece without "=" carries nothing.
            if (semi == std::string::npos) break;
            pos = semi + 1;
            continue;
        }
        std::string key = trim(text.substr(pos, eq - pos));
        std::size_t valueStart = eq + 1;
        while (valueStart < text.size() && text[valueStart] == ' ') ++valueStart;
        std::string value;
        if (valueStart < text.size() && text[valueStart] == '{') {
            // A braced value runs to the first "}" that is not doubled; inside it ";" is data.
            std::size_t i = valueStart + 1;
            for (; i < text.size(); ++i) {
                if (text[i] != '}') {
                    value.push_back(text[i]);
                } else if (i + 1 < text.size() && text[i + 1] == '}') {
                    value.push_back('}');
                    ++i;
                } else {
                    break;
                }
            }
            semi = text.find(';', std::min(i, text.size()));
        } else {
            semi = text.find(';', valueStart);
            value = trim(text.substr(valueStart, semi == std::string::npos ? std::string::npos : semi - valueStart));
        }
        if (!key.empty()) pairs_.emplace_back(key, value);
        if (semi == std::string::npos) break;
        pos = semi + 1;
    }
}

std::optional<std::string> ConnectionString::get(std::initializer_list<const char*> keys) const {
    for (const char* key : keys) {
        std::optional<std::string> found;
        for (const auto& [k, v] : pairs_)
            if (text::equalsNoCase(k, key)) found = v;
        if (found) return found;
    }
    return std::nullopt;
}

std::string ConnectionString::driver() const { return get({"Driver"}).value_or(""); }
std::string ConnectionString::provider() const { return get({"Provider"}).value_or(""); }
std::string ConnectionString::server() const { return get({"Server", "Address", "Addr", "Data Source"}).value_or(""); }
std::string ConnectionString::database() const { return get({"Database", "Initial Catalog"}).value_or(""); }
std::string ConnectionString::user() const { return get({"UID", "User ID", "ID utente"}).value_or(""); }
std::string ConnectionString::password() const { return get({"PWD", "Password"}).value_or(""); }
std::string ConnectionString::dataSource() const { return get({"Data Source"}).value_or(""); }

}  // namespace vopa::data
