#include "PersonalData.h"

#include <stdexcept>

namespace vopa::embedded {
extern const char personalDataText[];
}

namespace vopa::anonymise {
namespace {

constexpr std::string_view kKindNames[] = {
    "name",  "first_name", "surname", "address",   "postcode",    "city",       "province",
    "birth_place", "birth_date", "phone", "email", "website", "fiscal_code", "vat_number",
    "iban",  "abi",        "cab",     "account",   "bank",        "notes",      "text",
};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(Kind::Text) + 1);

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string_view kindName(Kind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

std::optional<Kind> kindNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kKindNames); ++i)
        if (kKindNames[i] == name) return static_cast<Kind>(i);
    return std::nullopt;
}

std::vector<PersonalColumn> parsePersonalData(std::string_view text) {
    std::vector<PersonalColumn> columns;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line.front() == '#') continue;
        auto fail = [&](const char* why) {
            throw std::invalid_argument("personal data list, line " + std::to_string(number) + ": " + why + ": " +
                                        std::string(line));
        };
        const std::size_t blank = line.find_first_of(" \t");
        if (blank == std::string_view::npos) fail("no kind");
        const std::string_view name = line.substr(0, blank);
        const std::optional<Kind> kind = kindNamed(trimmed(line.substr(blank)));
        if (!kind) fail("unknown kind");
        const std::size_t dot = name.find('.');
        if (dot == 0 || dot == std::string_view::npos || dot + 1 == name.size() || name.find('.', dot + 1) != std::string_view::npos)
            fail("not Table.Column");
        columns.push_back({std::string(name.substr(0, dot)), std::string(name.substr(dot + 1)), *kind});
    }
    return columns;
}

const std::vector<PersonalColumn>& personalData() {
    static const std::vector<PersonalColumn> list = parsePersonalData(embedded::personalDataText);
    return list;
}

}  // namespace vopa::anonymise
