#pragma once
// Which columns of a company database hold personal data, and of what kind: the list compiled in from
// data/personal_data.txt. The anonymised training copy replaces exactly these.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vopa::anonymise {

enum class Kind {
    Name,        // a person's or an organisation's full name, an account holder, a mnemonic of a name
    FirstName,
    Surname,
    Address,
    Postcode,
    City,
    Province,
    BirthPlace,
    BirthDate,
    Phone,
    Email,
    Website,
    FiscalCode,
    VatNumber,
    Iban,
    Abi,
    Cab,
    Account,     // bank account number, CIN
    Bank,
    Notes,       // free-text notes about a person: replaced whole
    Text,        // free text that may name a person: the names inside are replaced
};

// The kind as the list spells it ("first_name"), and back.
std::string_view kindName(Kind kind);
std::optional<Kind> kindNamed(std::string_view name);

struct PersonalColumn {
    std::string table;
    std::string column;
    Kind kind = Kind::Name;
};

// Reads a list: "Table.Column kind" per line, "#" comments and blank lines ignored. Throws
// std::invalid_argument naming the line for anything else.
std::vector<PersonalColumn> parsePersonalData(std::string_view text);

// The compiled-in list.
const std::vector<PersonalColumn>& personalData();

}  // namespace vopa::anonymise
