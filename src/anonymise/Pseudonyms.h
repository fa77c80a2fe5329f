#pragma once
// Pseudonyms for personal data. One key per build: the same key gives the same pseudonyms, so the build
// is consistent with itself (an original value, in whatever case, becomes the same pseudonym in every
// table, and a name inside a description becomes the pseudonym the name column got), while two builds
// differ and nothing in the copy leads back to the originals. Names and places are realistic Italian
// ones, codes have valid check characters, e-mail addresses and web sites are under example.org, and no
// pseudonym is one of the build's own original values.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "PersonalData.h"
#include "platform/value/Value.h"

namespace vopa::anonymise {

class Pseudonyms {
public:
    using Key = std::array<unsigned char, 32>;
    explicit Pseudonyms(const Key& key);
    // A key from the system's random source.
    static Key randomKey();

    // Tells an original value of a listed column, before the first pseudonym is asked for: pools then
    // avoid it, and free text finds it.
    void addOriginal(Kind kind, std::string_view value);

    // The pseudonym of a text value of `kind` (not BirthDate), cut to `maxChars` characters when that
    // is not 0. Blank values, and free text that names nobody, come back as they are.
    std::string text(Kind kind, std::string_view original, std::size_t maxChars = 0);
    // An ABI or CAB code held in a number column.
    double number(Kind kind, double original);
    // A date of birth moved by 1 to 365 days; the time of day is kept.
    DateTime date(const DateTime& original);

private:
    enum class Pool { FirstNames, Surnames, Cities, Other };
    std::uint64_t draw(std::string_view domain, std::string_view value, int attempt) const;
    // softLimit: preferably no longer than this many characters (0: any length), so that a name inside
    // a description grows no more than the name's own column allows.
    std::string pick(Pool pool, std::string_view domain, std::string_view folded,
                     std::string (*make)(std::uint64_t), std::size_t softLimit = 0);
    std::string generate(Kind kind, std::string_view original, const std::string& folded);
    std::string word(std::string_view original);
    // Which words of a text are replaced: the names of this build's originals only (free text), every
    // word (a first name, a surname, a slug), or the words written with a capital (a name in mixed case,
    // where "che", "di", "non" are ordinary words).
    enum class Words { KnownNames, Every, Capitalised };
    std::string rewrite(std::string_view text, Words words);

    Key key_;
    std::unordered_set<std::string> excludedWords_, excludedCities_, excludedOther_;
    std::unordered_set<std::string> firstNames_;  // folded: words known to be first names
    std::unordered_map<std::string, Kind> phrases_;  // folded originals found inside free text
    std::size_t longestPhrase_ = 1;                  // in words
    std::unordered_map<std::string, std::string> cache_[static_cast<int>(Kind::Text) + 1];
    std::unordered_map<std::string, std::string> words_;
};

// SipHash-2-4 of `message` keyed with the first 16 bytes of `key`.
std::uint64_t sipHash(const Pseudonyms::Key& key, std::string_view message);

// The check character of an Italian fiscal code from its first 15 characters.
char fiscalCodeCheckCharacter(std::string_view first15);
// The Italian CIN of a bank account from its ABI, CAB and 12-character account number (22 characters).
char cinOf(std::string_view abiCabAccount);
// The two check digits of an IBAN with this country code and national account number.
std::string ibanCheckDigits(std::string_view country, std::string_view bban);

}  // namespace vopa::anonymise
