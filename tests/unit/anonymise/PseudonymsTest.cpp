// Pseudonyms and the personal data list, without a database: formats with valid check characters,
// consistency (case, tables, free text), no original as a pseudonym, a key per build, the column's
// length; the list names columns the schema has, with a type its kind can take.

#include <gtest/gtest.h>

#include <set>

#include "anonymise/Anonymiser.h"
#include "anonymise/PersonalData.h"
#include "anonymise/Pseudonyms.h"
#include "platform/text/Text.h"
#include "schema/StatementLists.h"

using namespace vopa;
using namespace vopa::anonymise;

namespace {

Pseudonyms::Key keyOf(unsigned char seed) {
    Pseudonyms::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(seed * 31 + i);
    return key;
}

bool digitsOnly(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

// The VAT number's check digit is Luhn's.
bool luhnValid(const std::string& digits) {
    int sum = 0;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        int d = digits[digits.size() - 1 - i] - '0';
        if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return sum % 10 == 0;
}

// An IBAN is valid when, its first four characters moved to the end and letters read as 10..35, it
// leaves 1 divided by 97.
bool ibanValid(std::string iban) {
    iban.erase(std::remove(iban.begin(), iban.end(), ' '), iban.end());
    if (iban.size() < 5) return false;
    const std::string moved = iban.substr(4) + iban.substr(0, 4);
    int rest = 0;
    for (char c : moved) {
        const int value = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'Z' ? c - 'A' + 10 : -1;
        if (value < 0) return false;
        rest = (value >= 10 ? rest * 100 + value : rest * 10 + value) % 97;
    }
    return rest == 1;
}

bool fiscalCodeValid(const std::string& code) {
    static const std::string shape = "AAAAAA00A00A000A";
    if (code.size() != 16) return false;
    for (std::size_t i = 0; i < 16; ++i)
        if (shape[i] == 'A' ? !(code[i] >= 'A' && code[i] <= 'Z') : !(code[i] >= '0' && code[i] <= '9')) return false;
    return fiscalCodeCheckCharacter(code.substr(0, 15)) == code[15];
}

}  // namespace

TEST(CheckCharacters, MatchPublishedExamples) {
    EXPECT_EQ(fiscalCodeCheckCharacter("RSSMRA80A01H501"), 'U');
    EXPECT_EQ(fiscalCodeCheckCharacter("MRTMTT25D09F205"), 'Z');
    // The bank example of the Italian IBAN: IT60 X 05428 11101 000000123456.
    EXPECT_EQ(cinOf("0542811101000000123456"), 'X');
    EXPECT_EQ(ibanCheckDigits("IT", "X0542811101000000123456"), "60");
    EXPECT_TRUE(ibanValid("IT60X0542811101000000123456"));
    EXPECT_FALSE(ibanValid("IT61X0542811101000000123456"));
    // The reference vector of SipHash-2-4: key 00..0f, message 00..0e.
    Pseudonyms::Key key{};
    std::string message;
    for (int i = 0; i < 16; ++i) key[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
    for (int i = 0; i < 15; ++i) message += static_cast<char>(i);
    EXPECT_EQ(sipHash(key, message), 0xa129ca6149be45e5ull);
}

TEST(Pseudonyms, EachKindHasItsFormatFitsItsColumnAndIsNoOriginal) {
    struct Case {
        Kind kind;
        const char* original;
        std::size_t room;
        bool (*valid)(const std::string&);
    };
    const Case cases[] = {
        {Kind::FiscalCode, "RSSMRA80A01H501U", 16, fiscalCodeValid},
        {Kind::FiscalCode, "01234567897", 16, [](const std::string& s) { return s.size() == 11 && digitsOnly(s) && luhnValid(s); }},
        {Kind::VatNumber, "01234567897", 13, [](const std::string& s) { return s.size() == 11 && digitsOnly(s) && luhnValid(s); }},
        {Kind::VatNumber, "IT01234567897", 13, [](const std::string& s) { return s.rfind("IT", 0) == 0 && luhnValid(s.substr(2)); }},
        {Kind::Iban, "IT60X0542811101000000123456", 27, [](const std::string& s) { return s.size() == 27 && ibanValid(s) && s.rfind("IT", 0) == 0 && s[4] == cinOf(s.substr(5)); }},
        {Kind::Iban, "IT60 X054 2811 1010 0000 0123 456", 40, [](const std::string& s) { return s[4] == ' ' && ibanValid(s); }},
        {Kind::Email, "mario.rossi@gmail.com", 50, [](const std::string& s) { return s.size() > 12 && s.substr(s.size() - 12) == "@example.org"; }},
        {Kind::Website, "www.rossi.it", 255, [](const std::string& s) { return s.find(".example.org") != std::string::npos; }},
        {Kind::Postcode, "20121", 20, [](const std::string& s) { return s.size() == 5 && digitsOnly(s); }},
        {Kind::Province, "MI", 2, [](const std::string& s) { return s.size() == 2 && s[0] >= 'A' && s[1] <= 'Z'; }},
        {Kind::Phone, "02 1234567", 30, [](const std::string& s) { return s[0] == '0' && s.find(' ') != std::string::npos; }},
        {Kind::Phone, "347 1234567", 30, [](const std::string& s) { return s[0] == '3'; }},
        {Kind::Abi, "05428", 5, [](const std::string& s) { return s.size() == 5 && digitsOnly(s); }},
        {Kind::Account, "000000123456", 20, [](const std::string& s) { return s.size() == 12 && digitsOnly(s); }},
        {Kind::Address, "Via Roma 12", 30, [](const std::string& s) { return s.find(' ') != std::string::npos; }},
        {Kind::City, "Milano", 50, [](const std::string& s) { return !s.empty(); }},
        {Kind::Bank, "Banca Popolare Etica", 100, [](const std::string& s) { return s.rfind("Ban", 0) == 0 || s.rfind("Cas", 0) == 0; }},
        {Kind::Surname, "Rossi", 8, [](const std::string& s) { return text::lengthInChars(s) <= 8 && !s.empty(); }},
        {Kind::Notes, "Ha chiesto di non ricevere più lettere", 20, [](const std::string& s) { return text::lengthInChars(s) <= 20; }},
    };
    for (const Case& c : cases) {
        Pseudonyms p(keyOf(1)), again(keyOf(1));
        p.addOriginal(c.kind, c.original);
        again.addOriginal(c.kind, c.original);
        const std::string pseudonym = p.text(c.kind, c.original, c.room);
        SCOPED_TRACE(std::string(kindName(c.kind)) + " " + c.original + " -> " + pseudonym);
        EXPECT_TRUE(c.valid(pseudonym));
        EXPECT_NE(text::toLower(pseudonym), text::toLower(c.original));
        EXPECT_LE(text::lengthInChars(pseudonym), c.room);
        EXPECT_EQ(again.text(c.kind, c.original, c.room), pseudonym) << "the same key gives the same pseudonym";
        EXPECT_EQ(p.text(c.kind, std::string(" "), c.room), " ") << "a blank value stays";
        EXPECT_EQ(p.text(c.kind, std::string(), c.room), "");
    }
}

TEST(Pseudonyms, AnOriginalValueBecomesTheSamePseudonymWhereverItIs) {
    Pseudonyms p(keyOf(2));
    p.addOriginal(Kind::Name, "Rossi Mario");
    p.addOriginal(Kind::Surname, "Bianchi");
    p.addOriginal(Kind::FirstName, "Ugo");
    p.addOriginal(Kind::City, "Reggio nell'Emilia");
    p.addOriginal(Kind::FiscalCode, "RSSMRA80A01H501U");
    p.addOriginal(Kind::FirstName, "Rosa");
    p.addOriginal(Kind::Name, "LIBRERIA CHE NON C'È");

    const std::string name = p.text(Kind::Name, "Rossi Mario");
    EXPECT_EQ(p.text(Kind::Name, "ROSSI MARIO"), text::toUpper(name)) << "case differs, pseudonym does not";
    EXPECT_EQ(p.text(Kind::Name, "rossi mario "), text::toLower(name) + " ") << "the blanks around stay";
    const std::string surname = name.substr(0, name.find(' '));
    EXPECT_EQ(p.text(Kind::Surname, "Rossi"), surname) << "a surname alone and inside a full name";
    EXPECT_EQ(p.text(Kind::Name, "Bianchi Ugo"), p.text(Kind::Surname, "Bianchi") + " " + p.text(Kind::FirstName, "Ugo"));

    const std::string city = p.text(Kind::City, "Reggio nell'Emilia");
    struct FreeText {
        const char* original;
        std::string expected;
    };
    const FreeText texts[] = {
        {"Donazione di Rossi Mario", "Donazione di " + name},
        {"Stipendio gennaio 2020 ROSSI MARIO", "Stipendio gennaio 2020 " + text::toUpper(name)},
        {"Consegna a Reggio nell'Emilia, da Bianchi", "Consegna a " + city + ", da " + p.text(Kind::Surname, "Bianchi")},
        {"CF RSSMRA80A01H501U.", "CF " + p.text(Kind::FiscalCode, "RSSMRA80A01H501U") + "."},
        {"Commissioni bancarie gennaio 2020", "Commissioni bancarie gennaio 2020"},
        {"Rossini e Mariotti", "Rossini e Mariotti"},  // a name is replaced as a whole word only
        {"Una maglietta rosa per Rosa", "Una maglietta rosa per " + p.text(Kind::FirstName, "Rosa")},
        {"MAGLIETTA ROSA", "MAGLIETTA " + text::toUpper(p.text(Kind::FirstName, "Rosa"))},
        {"Libri che non ci sono", "Libri che non ci sono"},  // words of a name in capitals, not names
    };
    for (const FreeText& t : texts) EXPECT_EQ(p.text(Kind::Text, t.original), t.expected) << t.original;

    // An organisation keeps the words that say what it is.
    const std::string organisation = p.text(Kind::Name, "Associazione Amici di Rossi");
    EXPECT_EQ(organisation.rfind("Associazione ", 0), 0u) << organisation;
    EXPECT_NE(organisation.find(" di " + surname), std::string::npos) << organisation;
}

TEST(Pseudonyms, NoPseudonymIsAnOriginalAndAnotherKeyGivesOthers) {
    const char* const surnames[] = {"Rossi", "Russo", "Ferrari", "Esposito", "Bianchi", "Romano", "Colombo", "Ricci",
                                    "Marino", "Greco", "Bruno", "Gallo", "Conti", "De Luca", "Mancini", "Costa"};
    // The pseudonyms a first key gives become originals of a second build with the same key: each
    // must then be drawn again.
    Pseudonyms first(keyOf(3));
    std::set<std::string> taken;
    for (const char* s : surnames) taken.insert(first.text(Kind::Surname, s));
    Pseudonyms second(keyOf(3));
    for (const std::string& s : taken) second.addOriginal(Kind::Surname, s);
    for (const char* s : surnames) second.addOriginal(Kind::Surname, s);
    int differentFromOtherKey = 0;
    Pseudonyms other(keyOf(4));
    for (const char* s : surnames) {
        const std::string pseudonym = second.text(Kind::Surname, s);
        EXPECT_EQ(taken.count(pseudonym), 0u) << s << " -> " << pseudonym;
        EXPECT_EQ(std::count(std::begin(surnames), std::end(surnames), pseudonym), 0) << pseudonym;
        differentFromOtherKey += other.text(Kind::Surname, s) != first.text(Kind::Surname, s);
    }
    EXPECT_GE(differentFromOtherKey, 14) << "two builds give different pseudonyms";

    const DateTime birth = DateTime::fromParts(1980, 1, 1, 10, 30);
    const DateTime moved = first.date(birth);
    EXPECT_NE(moved.millis, birth.millis);
    EXPECT_EQ(moved.millis % 86'400'000, birth.millis % 86'400'000) << "the time of day stays";
    EXPECT_LE(std::abs(moved.millis - birth.millis), 365LL * 86'400'000);
    EXPECT_EQ(first.date(birth).millis, moved.millis);
    EXPECT_NE(first.number(Kind::Cab, 11101), 11101);
}

TEST(Anonymiser, MessagesLoseTheValuesTheyQuote) {
    const std::pair<const char*, const char*> cases[] = {
        {"Violation of PRIMARY KEY constraint 'PK_x'. The duplicate key value is (Rossi Mario).",
         "Violation of PRIMARY KEY constraint '…'. The duplicate key value is (…)."},
        {"Conversion failed when converting the nvarchar value 'O''Brien' to data type int.",
         "Conversion failed when converting the nvarchar value '…' to data type int."},
        {"Impossibile aprire l'archivio dell'azienda", "Impossibile aprire l'archivio dell'azienda"},
        {"no quotes at all", "no quotes at all"},
    };
    for (const auto& [message, expected] : cases) EXPECT_EQ(withoutQuotedValues(message), expected);
}

TEST(PersonalData, ListNamesSchemaColumnsOfATypeTheirKindTakes) {
    std::map<std::string, std::string> types;  // "table.column" (small letters) -> type
    for (const schema::TableSpec& t : schema::baseSchema())
        for (const schema::ColumnSpec& c : t.columns) types[text::toLower(t.name + "." + c.name)] = text::toLower(c.type);
    std::set<std::string> seen;
    for (const PersonalColumn& c : personalData()) {
        const std::string name = text::toLower(c.table + "." + c.column);
        SCOPED_TRACE(name);
        EXPECT_TRUE(seen.insert(name).second) << "listed twice";
        ASSERT_TRUE(types.count(name)) << "not a column of the schema";
        const std::string& type = types[name];
        const bool date = type.find("date") != std::string::npos;
        const bool number = type == "float" || type == "int" || type.rfind("decimal", 0) == 0;
        if (c.kind == Kind::BirthDate) EXPECT_TRUE(date);
        else if (number) EXPECT_TRUE(c.kind == Kind::Abi || c.kind == Kind::Cab);
        else EXPECT_TRUE(type.find("char") != std::string::npos || type.find("text") != std::string::npos) << type;
        EXPECT_FALSE(text::equalsNoCase(c.table, "AbilitazioneAccessi")) << "the operators sign in to the copy";
        EXPECT_FALSE(text::equalsNoCase(c.table, "link_programma"));
    }
    EXPECT_TRUE(seen.count("contatti.nomesocietà") && seen.count("contatti.codicefiscale") && seen.count("contatti.iban"));

    const char* const wrong[] = {"contatti.Nome", "contatti.Nome nickname", "contatti Nome name", ".Nome name",
                                 "a.b.c name"};
    for (const char* line : wrong) EXPECT_THROW(parsePersonalData(line), std::invalid_argument) << line;
    EXPECT_EQ(parsePersonalData("# comment\n\n  t.c  fiscal_code\r\n").front().kind, Kind::FiscalCode);
}
