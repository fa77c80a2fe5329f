#include "DemoData.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>

namespace vopa::demo {

// ---------------------------------------------------------------------------------------------------
// Random source and literals

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::int64_t Random::between(std::int64_t low, std::int64_t high) {
    const auto span = static_cast<std::uint64_t>(high - low) + 1;
    return low + static_cast<std::int64_t>(next() % span);
}

std::string sqlText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 3);
    out += "N'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    out += '\'';
    return out;
}

std::string sqlMoney(std::int64_t cents) {
    const bool negative = cents < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(cents) : static_cast<std::uint64_t>(cents);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s%llu.%02llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 100), static_cast<unsigned long long>(magnitude % 100));
    return buffer;
}

namespace {
constexpr std::int64_t kDaysFrom1970To2000 = 10957;
}

// Civil calendar from day numbers (proleptic Gregorian), after H. Hinnant's algorithms.
CivilDate civilDate(std::int64_t day) {
    std::int64_t z = day + kDaysFrom1970To2000 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

std::int64_t dayNumber(int year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = month > 2 ? month - 3 : month + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 - kDaysFrom1970To2000;
}

std::string sqlDate(std::int64_t day) {
    const CivilDate c = civilDate(day);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "'%04d%02d%02d'", c.year, c.month, c.day);
    return buffer;
}

std::string fit(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
        if (chars == maxChars) return std::string(text.substr(0, i));
        ++chars;
    }
    return std::string(text);
}

std::string asciiSlug(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else if (c == 0xC3 && i + 1 < text.size()) {
            // Latin-1 letters with accents: the base letter of each range.
            const auto d = static_cast<unsigned char>(text[++i]) & 0xDF;  // upper and lower case alike
            if (d >= 0x80 && d <= 0x85) out += 'a';
            else if (d == 0x87) out += 'c';
            else if (d >= 0x88 && d <= 0x8B) out += 'e';
            else if (d >= 0x8C && d <= 0x8F) out += 'i';
            else if (d == 0x91) out += 'n';
            else if (d >= 0x92 && d <= 0x96) out += 'o';
            else if (d >= 0x99 && d <= 0x9C) out += 'u';
        } else if (c >= 0x80) {
            while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) ++i;
        }
    }
    return out;
}

namespace {
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}
}  // namespace

std::string budgetTableName(std::string_view type, std::string_view number) {
    std::string name(trimmed(type));
    if (!trimmed(number).empty()) name += "_" + std::string(trimmed(number));
    return name;
}

std::string funderAccountsTableName(std::string_view type) { return std::string(type) + "Conti"; }

const std::vector<std::string>& budgetTableColumns() {
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> c = {"ID int NULL",       "IDConto int NULL",           "IDValuta int NULL",
                                      "Numeroconto varchar(255) NULL", "Nomeconto varchar(255) NULL",
                                      "IDTipoConto int NULL", "ContoReport varchar(255) NULL"};
        for (const char* family : {"Expenses", "euroexpenses", "Budget"})
            for (int n = 1; n <= 6; ++n)
                for (int half = 1; half <= 2; ++half)
                    c.push_back(std::string(family) + "_" + std::to_string(half) + "_" + std::to_string(n) + " money NULL");
        c.push_back("Budgetapproved money NULL");
        c.push_back("Budgetproposal money NULL");
        for (int k = 1; k <= 5; ++k) c.push_back("Revision" + std::to_string(k) + " money NULL");
        for (int k = 1; k <= 5; ++k) c.push_back("BudgetRevised" + std::to_string(k) + " money NULL");
        c.push_back("PContribution int NULL");
        c.push_back("O_Contribution int NULL");
        for (const char* quota : {"QuotaTerzi", "QuotaOng", "QuotaAltri"})
            c.push_back(std::string(quota) + " decimal(9, 2) not NULL default 0");
        return c;
    }();
    return columns;
}

// ---------------------------------------------------------------------------------------------------
// Fixed data of an Italian non-profit organisation

namespace {

struct City {
    const char* name;
    const char* province;
    const char* cap;
    const char* phonePrefix;
};
constexpr City kCities[] = {
    {"Milano", "MI", "20121", "02"},          {"Roma", "RM", "00184", "06"},
    {"Torino", "TO", "10121", "011"},         {"Napoli", "NA", "80133", "081"},
    {"Bologna", "BO", "40121", "051"},        {"Firenze", "FI", "50122", "055"},
    {"L'Aquila", "AQ", "67100", "0862"},      {"Sant'Agata de' Goti", "BN", "82019", "0823"},
    {"Forlì", "FC", "47121", "0543"},         {"Cantù", "CO", "22063", "031"},
    {"Canicattì", "AG", "92024", "0922"},     {"Palermo", "PA", "90133", "091"},
    {"Genova", "GE", "16121", "010"},         {"Bari", "BA", "70121", "080"},
    {"Verona", "VR", "37121", "045"},         {"Trento", "TN", "38122", "0461"},
    {"Reggio nell'Emilia", "RE", "42121", "0522"}, {"Padova", "PD", "35121", "049"},
    {"Cagliari", "CA", "09124", "070"},       {"Lecce", "LE", "73100", "0832"},
    {"Perugia", "PG", "06121", "075"},        {"Ancona", "AN", "60121", "071"},
    {"Sant'Agata di Militello", "ME", "98076", "0941"}, {"Città di Castello", "PG", "06012", "075"},
    {"Pescara", "PE", "65121", "085"},        {"Aosta", "AO", "11100", "0165"},
    {"Sulmona", "AQ", "67039", "0864"},       {"Bergamo", "BG", "24121", "035"},
};
constexpr std::size_t kCityCount = std::size(kCities);

struct FirstName {
    const char* name;
    char sex;
};
constexpr FirstName kFirstNames[] = {
    {"Giuseppe", 'M'}, {"Maria", 'F'},     {"Niccolò", 'M'},   {"Lucia", 'F'},     {"Francesca", 'F'},
    {"Giovanni", 'M'}, {"Andrea", 'M'},    {"Chiara", 'F'},    {"Luca", 'M'},      {"Federica", 'F'},
    {"Matteo", 'M'},   {"Giulia", 'F'},    {"Pietro", 'M'},    {"Anna", 'F'},      {"Salvatore", 'M'},
    {"Caterina", 'F'}, {"Elisa", 'F'},     {"Tommaso", 'M'},   {"Beatrice", 'F'},  {"Raffaele", 'M'},
    {"Lorenzo", 'M'},  {"Alessandra", 'F'}, {"Davide", 'M'},   {"Simona", 'F'},    {"Marco", 'M'},
    {"Paola", 'F'},    {"Stefano", 'M'},   {"Ilaria", 'F'},    {"Emanuele", 'M'},  {"Agnese", 'F'},
    {"Nicolò", 'M'},   {"Noemi", 'F'},     {"Gabriele", 'M'},  {"Rosalia", 'F'},   {"Domenico", 'M'},
    {"Teresa", 'F'},   {"Antonio", 'M'},   {"Martina", 'F'},   {"Giacomo", 'M'},   {"Benedetta", 'F'},
};
constexpr const char* kSurnames[] = {
    "Rossi",    "Russo",     "Ferrari",  "Esposito", "Bianchi",    "Romano",   "Colombo",  "D'Angelo",
    "Ricci",    "Marino",    "Greco",    "Bruno",    "Gallo",      "Conti",    "De Luca",  "Mancini",
    "Costa",    "Giordano",  "Rizzo",    "Lombardi", "Moretti",    "Barbieri", "Fontana",  "Santoro",
    "Mariani",  "Rinaldi",   "Caruso",   "Ferrara",  "Galli",      "D'Amico",  "Dell'Acqua", "Fabbri",
    "Cattaneo", "Pellegrini", "Lucà",    "Sant'Ambrogio", "Nicolò", "De Santis", "Parisi", "Villa",
    "Longo",    "Gentile",   "Martinelli", "Vitale", "Serra",      "Coppola",  "D'Alessandro", "Bellini",
};
constexpr const char* kStreets[] = {
    "Via Garibaldi",          "Corso Vittorio Emanuele II", "Piazza Sant'Ambrogio", "Via dell'Indipendenza",
    "Viale Giovanni XXIII",   "Via Niccolò Machiavelli",    "Via Cavour",            "Via San Francesco d'Assisi",
    "Largo Sant'Agata",       "Via Roma",                   "Via Dante Alighieri",   "Via della Libertà",
    "Via Giuseppe Mazzini",   "Corso d'Italia",             "Via dei Mille",         "Piazza del Popolo",
    "Via Città di Castello",  "Viale dell'Università",      "Via Sant'Anna",         "Vicolo dell'Orto",
};
constexpr const char* kOrganisations[] = {
    "Parrocchia di Sant'Agata",        "Cooperativa Sociale L'Arcobaleno", "Ferramenta Dell'Orto s.n.c.",
    "Tipografia Niccolò & Figli",      "Caffè Città Alta s.r.l.",          "Scuola Primaria Sant'Anna",
    "Gruppo Alpini",                   "Farmacia dell'Ospedale",           "Studio D'Angelo Commercialisti",
    "Agenzia Viaggi Il Mappamondo",    "Pasticceria Dolce Attesa",         "Circolo Acli",
    "Lions Club",                      "Rotary Club",                      "Banca di Credito Cooperativo",
    "Assicurazioni Solidali s.p.a.",   "Autotrasporti Fratelli Galli",     "Libreria L'Isola che non c'è",
    "Oratorio San Luigi",              "Comitato Genitori",                "Ristorante Da Niccolò",
    "Informatica Città Nuova s.r.l.",  "Studio Legale Dell'Acqua",         "Cartoleria La Matita",
};
constexpr const char* kBanks[] = {"Banca Popolare Etica", "Intesa Sanpaolo", "UniCredit", "Banco BPM",
                                  "BPER Banca", "Crédit Agricole Italia", "Banca Sella", "Poste Italiane"};
constexpr const char* kBics[] = {"ETICIT22XXX", "BCITITMM", "UNCRITMM", "BAPPIT21", "BPMOIT22",
                                 "CRPPIT2P", "SELBIT2B", "BPPIITRR"};
constexpr const char* kMonths[] = {"gennaio", "febbraio", "marzo",     "aprile",  "maggio",   "giugno",
                                   "luglio",  "agosto",   "settembre", "ottobre", "novembre", "dicembre"};
constexpr const char* kDonorNotes[] = {
    "Preferisce essere contattata per e-mail.", "Sostenitore dal 2015; non inviare il calendario.",
    "Ha chiesto la ricevuta per la dichiarazione dei redditi.", "Dona in memoria della madre.",
    "Volontario alla festa d'estate.", "Contattare solo dopo le 18."};

// Chart of accounts: number, name, account type (IDTipoConto).
struct Account {
    const char* number;
    const char* name;
    int type;
};
constexpr Account kAccounts[] = {
    {"C.IV.1.1", "Cassa sede", 1},
    {"C.IV.1.2", "Cassa in loco (progetti)", 1},
    {"C.IV.2.1", "Banca Popolare Etica c/c", 1},
    {"C.IV.2.2", "Intesa Sanpaolo c/c", 1},
    {"C.IV.3.1", "Conto PayPal donazioni", 1},
    {"C.II.1", "Crediti verso finanziatori", 2},
    {"C.II.2", "Crediti verso soci", 2},
    {"D.7", "Debiti verso fornitori", 3},
    {"D.12", "Debiti tributari", 3},
    {"D.13", "Debiti verso istituti previdenziali", 3},
    {"D.14", "Debiti verso dipendenti", 3},
    {"A.I", "Fondo di dotazione", 4},
    {"A.II", "Patrimonio vincolato", 4},
    {"A.1.1.1", "Donazioni da privati", 5},
    {"A.1.1.2", "Erogazioni liberali da imprese", 5},
    {"A.1.1.3", "Cinque per mille", 5},
    {"A.1.2.1", "Contributi Unione Europea", 5},
    {"A.1.2.2", "Contributi AICS - Ministero degli Affari Esteri", 5},
    {"A.1.2.3", "Contributi CEI 8xmille", 5},
    {"A.1.2.4", "Contributi regionali", 5},
    {"A.1.3", "Quote associative", 5},
    {"A.1.4", "Proventi da raccolta fondi", 5},
    {"B.1.1", "Personale espatriato", 6},
    {"B.1.2", "Personale locale", 6},
    {"B.1.3", "Viaggi e trasferte", 6},
    {"B.1.4", "Attrezzature e forniture", 6},
    {"B.1.5", "Formazione e sensibilizzazione", 6},
    {"B.1.6", "Costruzioni e ristrutturazioni", 6},
    {"B.1.7", "Monitoraggio e valutazione", 6},
    {"B.1.8", "Affitti in loco", 6},
    {"B.1.9", "Materiale didattico", 6},
    {"B.1.10", "Servizi di consulenza", 6},
    {"B.2.1", "Stipendi personale di sede", 7},
    {"B.2.2", "Contributi INPS", 7},
    {"B.2.3", "Premi INAIL", 7},
    {"B.2.4", "Trattamento di fine rapporto", 7},
    {"B.3.1", "Affitto sede", 8},
    {"B.3.2", "Utenze (luce, gas, acqua)", 8},
    {"B.3.3", "Spese telefoniche e Internet", 8},
    {"B.3.4", "Cancelleria e stampati", 8},
    {"B.3.5", "Assicurazioni", 8},
    {"B.3.6", "Commissioni bancarie", 8},
    {"B.3.7", "Consulenze amministrative e fiscali", 8},
    {"B.4.1", "Campagne di raccolta fondi", 9},
    {"B.4.2", "Spedizioni postali ai donatori", 9},
    {"A.3.1", "Interessi attivi bancari", 10},
    {"A.3.2", "Differenze cambio attive", 10},
    {"B.5.1", "Interessi passivi", 11},
    {"B.5.2", "Differenze cambio passive", 11},
};
constexpr int kAccountCount = static_cast<int>(std::size(kAccounts));

// IdConto of an account number (the chart's position, from 1).
int accountId(std::string_view number) {
    for (int i = 0; i < kAccountCount; ++i)
        if (number == kAccounts[i].number) return i + 1;
    return 0;
}

struct AccountType {
    const char* name;
    const char* budgetItem;
    const char* category;
};
constexpr AccountType kAccountTypes[] = {
    {"Disponibilità liquide", "", "C.IV"},        {"Crediti", "", "C.II"},
    {"Debiti", "", "D"},                          {"Patrimonio netto", "", "A"},
    {"Proventi da attività istituzionali", "Entrate", "A.1"},
    {"Oneri dei progetti", "Costi diretti", "B.1"},
    {"Oneri del personale di sede", "Personale", "B.2"},
    {"Oneri di supporto generale", "Costi indiretti", "B.3"},
    {"Oneri di raccolta fondi", "Raccolta fondi", "B.4"},
    {"Proventi finanziari", "", "A.3"},           {"Oneri finanziari", "", "B.5"},
};
constexpr int kAccountTypeCount = static_cast<int>(std::size(kAccountTypes));

// Accounts a project's budget covers: the project costs and the share of the head office's rent.
std::vector<int> budgetAccounts() {
    std::vector<int> ids;
    for (int i = 0; i < kAccountCount; ++i)
        if (kAccounts[i].type == 6) ids.push_back(i + 1);
    ids.push_back(accountId("B.3.1"));
    return ids;
}

struct Currency {
    const char* code;
    std::int64_t rateMicros;  // units per euro, in millionths
};
constexpr Currency kCurrencies[] = {{"EUR", 1000000},   {"USD", 1085000}, {"XOF", 655957000},
                                    {"PEN", 4050000},   {"KES", 141200000}, {"BRL", 5430000}};

struct Country {
    const char* name;
    const char* code;
    const char* currency;
    const char* area;
};
constexpr Country kCountries[] = {
    {"Italia", "IT", "EUR", "Europa"},          {"Burkina Faso", "BF", "XOF", "Africa occidentale"},
    {"Perù", "PE", "PEN", "America Latina"},    {"Kenya", "KE", "KES", "Africa orientale"},
    {"Brasile", "BR", "BRL", "America Latina"}, {"Stati Uniti d'America", "US", "USD", "America del Nord"},
    {"Senegal", "SN", "XOF", "Africa occidentale"}, {"Costa d'Avorio", "CI", "XOF", "Africa occidentale"},
};

struct ContactType {
    int id;
    const char* name;
};
enum ContactKind { Donor = 1, Supplier = 2, Employee = 3, FunderBody = 4, Partner = 5, Volunteer = 6 };
constexpr ContactType kContactTypes[] = {{Donor, "Donatore"},          {Supplier, "Fornitore"},
                                         {Employee, "Dipendente"},     {FunderBody, "Ente finanziatore"},
                                         {Partner, "Partner locale"},  {Volunteer, "Volontario"}};

struct Funder {
    const char* name;  // nvarchar(20)
    const char* type;
    const char* line;
    int incomeAccount;  // position in kAccounts + 1 of the grants it pays
};
// The regional funder's name comes from the company's region.
std::vector<Funder> funders(const CompanyProfile& company) {
    return {
        {"Fondi propri", "ong", "Raccolta fondi e quote associative", accountId("A.1.1.1")},
        {"Commissione Europea", "EU", "Strumento NDICI - Global Europe, organizzazioni della società civile",
         accountId("A.1.2.1")},
        {"AICS", "MAE", "Bando promossi dalle organizzazioni della società civile", accountId("A.1.2.2")},
        {"CEI 8xmille", "CEI", "Interventi caritativi a favore dei Paesi del Terzo Mondo", accountId("A.1.2.3")},
        {company.region.c_str(), "Regione", "Cooperazione decentrata - contributi alle ONG del territorio",
         accountId("A.1.2.4")},
    };
}

// The budget lines of a funder's chart: category, number, budget item, description, our account.
struct FunderLine {
    const char* category;
    const char* number;
    const char* item;
    const char* description;
    const char* account;
};
constexpr FunderLine kFunderLines[] = {
    {"1", "1.1", "Personale espatriato", "Risorse umane - personale espatriato", "B.1.1"},
    {"1", "1.2", "Personale locale", "Risorse umane - personale locale", "B.1.2"},
    {"2", "2.1", "Viaggi", "Viaggi internazionali e trasporti locali", "B.1.3"},
    {"3", "3.1", "Attrezzature", "Attrezzature, veicoli e forniture", "B.1.4"},
    {"4", "4.1", "Formazione", "Formazione e sensibilizzazione", "B.1.5"},
    {"5", "5.1", "Opere", "Costruzioni e ristrutturazioni", "B.1.6"},
    {"6", "6.1", "Monitoraggio", "Monitoraggio, valutazione e audit", "B.1.7"},
    {"7", "7.1", "Affitti", "Affitti in loco", "B.1.8"},
    {"8", "8.1", "Spese generali", "Costi amministrativi (massimo 7%)", "B.3.1"},
};

struct ProjectTitle {
    const char* description;  // nvarchar(50)
    const char* shortTitle;   // nvarchar(30)
    const char* location;
    const char* kind;
    int country;  // index into kCountries
};
constexpr ProjectTitle kProjectTitles[] = {
    {"Acqua potabile per i villaggi del Sahel", "Acqua Sahel", "Burkina Faso, regione del Sahel", "Acqua e igiene", 1},
    {"Scuole primarie nella regione di Ayacucho", "Scuole Ayacucho", "Perù, Ayacucho", "Istruzione", 2},
    {"Microcredito per donne artigiane", "Microcredito donne", "Senegal, Thiès", "Sviluppo economico", 6},
    {"Salute materno-infantile a Kisumu", "Salute Kisumu", "Kenya, contea di Kisumu", "Sanità", 3},
    {"Sicurezza alimentare e orti comunitari", "Orti comunitari", "Burkina Faso, Ouahigouya", "Agricoltura", 1},
    {"Formazione professionale dei giovani", "Formazione giovani", "Brasile, Belo Horizonte", "Formazione", 4},
    {"Energia solare per i centri di salute", "Solare centri salute", "Costa d'Avorio, Bouaké", "Energia", 7},
    {"Educazione alla cittadinanza mondiale", "ECM nelle scuole", "Italia, scuole della provincia", "Educazione", 0},
    {"Sostegno a distanza dei bambini di strada", "Sostegno a distanza", "Perù, Lima", "Infanzia", 2},
    {"Accoglienza e integrazione dei rifugiati", "Accoglienza rifugiati", "Italia, L'Aquila", "Migrazioni", 0},
};

constexpr std::int64_t kFirstDay = 6940;  // 2019-01-01
constexpr std::int64_t kLastDay = 9131;   // 2024-12-31

int currencyIndex(const char* code) {
    for (std::size_t i = 0; i < std::size(kCurrencies); ++i)
        if (std::string_view(kCurrencies[i].code) == code) return static_cast<int>(i);
    return 0;
}

// Rows of the fixed tables, independent of the scale.
constexpr std::int64_t kUserRows = 3;
constexpr std::int64_t kOfficeRows = 1 + 2 + 1;  // sede, two rows of elencosedi, link_programma
constexpr std::int64_t kFunderCount = 5;
constexpr std::int64_t kFunderAccountTables = kFunderCount;  // four "<Type>Conti" tables and ongconti

int projectCount(std::int64_t companyRows) {
    return 6 + static_cast<int>(std::min<std::int64_t>(34, companyRows / 250000));
}

std::int64_t fixedRows(int projects) {
    return kUserRows + kOfficeRows + static_cast<std::int64_t>(std::size(kCurrencies)) +
           static_cast<std::int64_t>(std::size(kCountries)) + static_cast<std::int64_t>(std::size(kContactTypes)) +
           kAccountTypeCount + kAccountCount + kFunderCount +
           kFunderAccountTables * static_cast<std::int64_t>(std::size(kFunderLines)) + projects +
           projects * static_cast<std::int64_t>(budgetAccounts().size());
}

std::int64_t detailsFor(std::int64_t payslips) {
    return payslips + 3 * (payslips / 3) + (payslips % 3 == 2 ? 1 : 0);
}

}  // namespace

RowPlan planRows(std::int64_t companyRows) {
    RowPlan plan;
    plan.projects = projectCount(companyRows);
    const std::int64_t rest = std::max<std::int64_t>(0, companyRows - fixedRows(plan.projects));
    plan.contacts = std::max<std::int64_t>(30, rest * 25 / 100);
    plan.donations = std::max<std::int64_t>(10, rest * 8 / 100);
    plan.payslips = std::max<std::int64_t>(6, rest * 7 / 300);
    plan.payslipDetails = detailsFor(plan.payslips);
    const std::int64_t ledger = rest - plan.contacts - plan.donations - plan.payslips - plan.payslipDetails;
    plan.ledgerRows = std::max<std::int64_t>(40, ledger - ledger % 2);
    return plan;
}

std::int64_t plannedTotal(const RowPlan& plan) {
    return fixedRows(plan.projects) + plan.contacts + plan.ledgerRows + plan.donations + plan.payslips +
           plan.payslipDetails;
}

// ---------------------------------------------------------------------------------------------------
// Bulk insert

BulkInsert::BulkInsert(data::Connection& connection, std::string table, std::string columns, std::int64_t expected,
                       std::string label, std::function<void(const std::string&)> progress, std::int64_t commitEvery)
    : connection_(connection),
      table_(std::move(table)),
      head_("INSERT INTO [" + table_ + "] (" + columns + ") VALUES "),
      expected_(expected),
      label_(std::move(label)),
      progress_(std::move(progress)),
      commitEvery_(commitEvery) {}

BulkInsert::~BulkInsert() {
    // An insert abandoned by an exception: give back the open transaction, quietly.
    if (inTransaction_) {
        try {
            connection_.execute("ROLLBACK TRANSACTION");
        } catch (...) {
        }
    }
}

void BulkInsert::add(std::string_view values) {
    if (!inTransaction_) {
        connection_.execute("BEGIN TRANSACTION");
        inTransaction_ = true;
    }
    if (pending_ == 0) {
        statement_.clear();
        statement_ += head_;
    } else {
        statement_ += ',';
    }
    statement_ += '(';
    statement_ += values;
    statement_ += ')';
    ++pending_;
    ++added_;
    if (pending_ == kRowsPerStatement) flush();
}

void BulkInsert::flush() {
    if (pending_ == 0) return;
    connection_.execute(statement_);
    sinceCommit_ += pending_;
    pending_ = 0;
    if (sinceCommit_ >= commitEvery_) {
        connection_.execute("COMMIT TRANSACTION");
        inTransaction_ = false;
        sinceCommit_ = 0;
        if (progress_)
            progress_(label_ + ": " + table_ + " " + std::to_string(added_) + "/" + std::to_string(expected_));
    }
}

void BulkInsert::finish() {
    flush();
    if (inTransaction_) {
        connection_.execute("COMMIT TRANSACTION");
        inTransaction_ = false;
        sinceCommit_ = 0;
    }
    if (progress_ && expected_ >= commitEvery_)
        progress_(label_ + ": " + table_ + " " + std::to_string(added_) + "/" + std::to_string(expected_));
}

// ---------------------------------------------------------------------------------------------------
// Companies and users

const std::vector<CompanyProfile>& demoCompanies() {
    static const std::vector<CompanyProfile> companies = {
        {1, "Associazione Solidarietà Nord-Sud", "VoPaDatiNordSud", 0, "cooperazione internazionale",
         "Regione Lombardia"},
        {2, "Fondazione L'Aquilone Onlus", "VoPaDatiAquilone", 6, "infanzia e istruzione", "Regione Abruzzo"},
    };
    return companies;
}

const std::vector<DemoUserProfile>& demoUsers() {
    static const std::vector<DemoUserProfile> users = {
        {"amministratore", "demo2024", "administrator: every right", true, false, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"operatore", "", "operator without a password: the first sign-in sets it", false, false,
         {0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 1}},
        {"stagista", "stage2023", "disabled: the sign-in refuses it", false, true, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    return users;
}

// ---------------------------------------------------------------------------------------------------
// Filling a company

namespace {

// A row's own random source: the rows of a table are independent of each other, so a row can be
// rebuilt from its number alone (the ledger names the contacts it refers to this way).
Random rowRandom(std::uint64_t base, std::int64_t row) {
    Random r(base ^ (static_cast<std::uint64_t>(row) * 0xD1B54A32D192ED03ULL));
    r.next();
    return r;
}

std::string lit(std::string_view s) { return sqlText(s); }
std::string num(std::int64_t v) { return std::to_string(v); }

// Rates in millionths as a numeric(19,6) literal.
std::string sqlRate(std::int64_t micros) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld.%06lld", static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    return buffer;
}

std::string digits(Random& r, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += static_cast<char>('0' + r.between(0, 9));
    return s;
}

struct Contact {
    ContactKind kind = Donor;
    bool organisation = false;
    std::string name;
    std::string firstName, surname;
    char sex = 'M';
    const City* city = nullptr;
};

class CompanyFiller {
public:
    CompanyFiller(data::Connection& c, const CompanyProfile& company, const RowPlan& plan, std::uint64_t seed,
                  const std::function<void(const std::string&)>& progress)
        : c_(c), company_(company), plan_(plan), progress_(progress), funders_(funders(company)) {
        Random r(seed ^ (0xA0761D6478BD642FULL * static_cast<std::uint64_t>(company.registryId)));
        for (auto& s : tableSeeds_) s = r.next();
        employees_ = std::clamp<std::int64_t>((plan.payslips + 71) / 72, 3, plan.contacts / 2);
    }

    void run() {
        fixedTables();
        contacts();
        projects();
        ledger();
        donations();
        payroll();
    }

private:
    enum Table { TContacts, TProjects, TLedger, TDonations, TPayroll, TBudget, TTableCount };

    BulkInsert insert(const std::string& table, const std::string& columns, std::int64_t expected) {
        return BulkInsert(c_, table, columns, expected, company_.databaseName, progress_);
    }

    const City& home() const { return kCities[static_cast<std::size_t>(company_.homeCity) % kCityCount]; }

    void fixedTables() {
        const City& city = home();
        const std::string domain = asciiSlug(company_.name).substr(0, 20) + ".it";
        const std::string officePhone = std::string(city.phonePrefix) + " " + "4821930";

        {
            BulkInsert b = insert("link_programma",
                                  "NomeAzienda, Stringa_connessione_sql, qen_access, qen_sql, Nserver, dbname, nRoot, Npassw",
                                  1);
            b.add(lit(company_.name) + ",NULL,N'Qen_locale_sql.mdb',N'Qen_locale_sql.mdb',N'(local)'," +
                  lit(company_.databaseName) + ",N'',N''");
            b.finish();
        }
        {
            BulkInsert b = insert("sede",
                                  "IdSede, Città, Indirizzo, StatoOProvincia, CAP, IdStato, TelefonoUfficio, NumeroFax, "
                                  "IndirizzoPostaElettronica, Note, idSedeLocale",
                                  1);
            b.add("1," + lit(city.name) + "," + lit("Via Sant'Agata 12") + "," + lit(city.province) + "," +
                  lit(city.cap) + ",1," + lit(officePhone) + "," + lit(std::string(city.phonePrefix) + " 4821931") +
                  "," + lit(fit("segreteria@" + domain, 50)) + "," +
                  lit("Sede centrale di " + company_.name + ": " + company_.focus + ".") + ",1");
            b.finish();
        }
        {
            BulkInsert b = insert("elencosedi",
                                  "Città, Indirizzo, StatoOProvincia, CAP, IdStato, TelefonoUfficio, "
                                  "IndirizzoPostaElettronica, Note, idSedeLocale",
                                  2);
            b.add(lit(city.name) + "," + lit("Via Sant'Agata 12") + "," + lit(city.province) + "," +
                  lit(city.cap) + ",1," + lit(officePhone) + "," + lit(fit("segreteria@" + domain, 50)) +
                  ",N'Sede centrale',1");
            b.add("N'Ouagadougou',N'Avenue Kwame N''Krumah 45',N'Kadiogo',N'01 BP 1234',2,N'+226 25 30 61 22'," +
                  lit(fit("burkina@" + domain, 50)) + ",N'Ufficio di coordinamento in loco',2");
            b.finish();
        }
        {
            BulkInsert b = insert("AbilitazioneAccessi",
                                  "NomeUtente, PaswUtente, Administrator, A_Inserisci, A_Cancella, A_Iva, A_Bilancio, "
                                  "A_Personale, A_ArchivioStoria, A_PFinanza, A_Synchro, A_EmettiPagamenti, A_Progetta, "
                                  "Disabilita",
                                  kUserRows);
            for (const DemoUserProfile& u : demoUsers()) {
                std::string row = lit(u.name) + "," + (u.password.empty() ? "NULL" : lit(u.password));
                for (int right : u.rights) row += "," + num(right);
                row += u.disabled ? ",1" : ",0";
                b.add(row);
            }
            b.finish();
        }
        {
            BulkInsert b = insert("valute", "Id, Descrizione, IdSede", static_cast<std::int64_t>(std::size(kCurrencies)));
            for (std::size_t i = 0; i < std::size(kCurrencies); ++i)
                b.add(num(static_cast<std::int64_t>(i) + 1) + "," + lit(kCurrencies[i].code) + ",1");
            b.finish();
        }
        {
            BulkInsert b = insert("stati", "DescStato, IdNazionaleStato, IsoValuta, Area",
                                  static_cast<std::int64_t>(std::size(kCountries)));
            for (const Country& country : kCountries)
                b.add(lit(country.name) + "," + lit(country.code) + ",'" + country.currency + "'," +
                      lit(country.area));
            b.finish();
        }
        {
            BulkInsert b = insert("tipoanagrafica", "IdTipoAnagrafica, TipoAnagrafe",
                                  static_cast<std::int64_t>(std::size(kContactTypes)));
            for (const ContactType& t : kContactTypes) b.add(num(t.id) + "," + lit(t.name));
            b.finish();
        }
        {
            BulkInsert b = insert("tipi_di_conto", "IDTipoConto, TipoConto, BudgetItem, Category, Number, IdMastro",
                                  kAccountTypeCount);
            for (int i = 0; i < kAccountTypeCount; ++i) {
                const AccountType& t = kAccountTypes[i];
                b.add(num(i + 1) + "," + lit(t.name) + "," + lit(t.budgetItem) + "," + lit(t.category) + "," +
                      lit(num(i + 1)) + "," + num(i + 1));
            }
            b.finish();
        }
        {
            BulkInsert b = insert("conti",
                                  "IdConto, NumeroConto, NomeConto, IDTipoConto, ContoReport, IdGruppoVopa, category, "
                                  "Number, Descrizione, IdSede, IdMastro, idSedeLocale, Seleziona",
                                  kAccountCount);
            for (int i = 0; i < kAccountCount; ++i) {
                const Account& a = kAccounts[i];
                const std::string number = a.number;
                const std::size_t dot = number.rfind('.');
                b.add(num(i + 1) + "," + lit(number) + "," + lit(a.name) + "," + num(a.type) + "," +
                      lit(number) + "," + num(a.type) + "," + lit(dot == std::string::npos ? number : number.substr(0, dot)) +
                      "," + lit(dot == std::string::npos ? "" : number.substr(dot + 1)) + "," + lit(a.name) +
                      ",1," + num(a.type) + ",1,0");
            }
            b.finish();
        }
        {
            BulkInsert b = insert("finanziatore",
                                  "idFinanziatore, Finanziatore, Type, LineaFinanziaria, NumeroLineaFinanziaria, idSedeLocale",
                                  kFunderCount);
            for (std::size_t i = 0; i < funders_.size(); ++i) {
                const Funder& f = funders_[i];
                b.add(num(static_cast<std::int64_t>(i) + 1) + "," + lit(fit(f.name, 20)) + "," + lit(f.type) + "," +
                      lit(fit(f.line, 75)) + "," + lit(std::string(f.type) + "/" + num(2019 + static_cast<std::int64_t>(i))) +
                      ",1");
            }
            b.finish();
        }
        funderAccounts();
    }

    // One chart per funder type: ongconti (part of the schema) for the organisation's own funds, a
    // "<Type>Conti" table for every other funder.
    void funderAccounts() {
        for (const Funder& f : funders_) {
            const std::string type = f.type;
            const std::string table = funderAccountsTableName(type);
            if (type != "ong")
                c_.execute("create table [" + table +
                           "] (id INT identity(1,1) not null , category varchar(20) NULL, number varchar(20) NULL, "
                           "budgetitem varchar(40) NULL, idtipoconto INT NULL default '0', idgruppovopa INT NULL "
                           "default '0', description varchar(100) NULL, Seleziona bit NULL default '0') ");
            BulkInsert b = type == "ong"
                               ? insert(table, "category, Number, BudgetItem, DESSOT, Description, IdTipoConto, IdGruppoVopa, "
                                               "idSedeLocale, Seleziona",
                                        static_cast<std::int64_t>(std::size(kFunderLines)))
                               : insert(table, "category, number, budgetitem, idtipoconto, idgruppovopa, description, Seleziona",
                                        static_cast<std::int64_t>(std::size(kFunderLines)));
            for (const FunderLine& line : kFunderLines) {
                const int account = accountId(line.account);
                const int accountType = kAccounts[account - 1].type;
                const std::string category = lit(type + " " + line.category);
                if (type == "ong")
                    b.add(category + "," + lit(line.number) + "," + lit(line.item) + "," +
                          lit(fit(kAccounts[account - 1].name, 50)) + "," + lit(line.description) + "," +
                          num(accountType) + "," + num(accountType) + ",1,0");
                else
                    b.add(category + "," + lit(line.number) + "," + lit(line.item) + "," + num(accountType) + "," +
                          num(accountType) + "," + lit(line.description) + ",0");
            }
            b.finish();
        }
    }

    Contact contactAt(std::int64_t id) const {
        Random r = rowRandom(tableSeeds_[TContacts], id);
        Contact k;
        if (id <= employees_) {
            k.kind = Employee;
        } else {
            const std::int64_t roll = r.between(1, 100);
            k.kind = roll <= 82 ? Donor : roll <= 94 ? Supplier : roll <= 96 ? Partner : roll <= 97 ? FunderBody : Volunteer;
        }
        k.organisation = k.kind == Supplier ? r.chance(80) : k.kind == Donor ? r.chance(8) : k.kind == FunderBody || k.kind == Partner;
        // Contacts cluster around the head office, with the rest of Italy behind.
        k.city = r.chance(40) ? &home() : &r.pick(kCities);
        const FirstName& first = r.pick(kFirstNames);
        k.firstName = first.name;
        k.sex = first.sex;
        k.surname = r.pick(kSurnames);
        if (k.organisation)
            k.name = fit(std::string(r.pick(kOrganisations)) + " - " + k.city->name, 50);
        else
            k.name = fit(k.surname + " " + k.firstName, 50);
        return k;
    }

    std::int64_t someContact(Random& r, ContactKind wanted) const {
        std::int64_t id = 1;
        for (int attempt = 0; attempt < 12; ++attempt) {
            id = wanted == Employee ? r.between(1, employees_) : r.between(employees_ + 1, plan_.contacts);
            if (contactAt(id).kind == wanted) return id;
        }
        return id;
    }

    void contacts() {
        BulkInsert b = insert("contatti",
                              "IdContatto, NomeSocietà, Indirizzo, Città, StatoOProvincia, CAP, IdStato, IdTipoAnagrafica, "
                              "IdSede, TelefonoUfficio, IndirizzoPostaElettronica, Note, Natoa, ProvinciaNascita, Il, "
                              "Codicefiscale, PartitaIva, Iban, Bic, Banca, Intestatario, Mnemo, Sesso, idSedeLocale",
                              plan_.contacts);
        for (std::int64_t id = 1; id <= plan_.contacts; ++id) {
            const Contact k = contactAt(id);
            Random r = rowRandom(tableSeeds_[TContacts] ^ 0x5555, id);
            const std::string address = fit(std::string(r.pick(kStreets)) + " " + num(r.between(1, 180)), 255);
            const std::string phone = std::string(k.city->phonePrefix) + " " + digits(r, 7);
            std::string email;
            if (k.organisation)
                email = fit("info@" + asciiSlug(k.name).substr(0, 24) + ".it", 50);
            else
                email = fit(asciiSlug(k.firstName) + "." + asciiSlug(k.surname) + num(id % 97) + "@" +
                                (r.chance(50) ? "gmail.com" : r.chance(50) ? "libero.it" : "alice.it"),
                            50);
            std::string row = num(id) + "," + lit(k.name) + "," + lit(address) + "," + lit(k.city->name) + "," +
                              lit(k.city->province) + "," + lit(k.city->cap) + ",1," + num(k.kind) + ",1," +
                              lit(phone) + "," + lit(email) + ",";
            row += k.kind == Donor && r.chance(10) ? lit(r.pick(kDonorNotes)) : "NULL";
            if (k.organisation) {
                row += ",NULL,NULL,NULL,NULL," + lit(digits(r, 11));
            } else {
                const std::int64_t birth = r.between(dayNumber(1940, 1, 1), dayNumber(2001, 12, 31));
                const CivilDate bd = civilDate(birth);
                std::string code = asciiSlug(k.surname).substr(0, 3) + asciiSlug(k.firstName).substr(0, 3);
                for (char& ch : code) ch = static_cast<char>(ch - 'a' + 'A');
                while (code.size() < 6) code += 'X';
                char tail[16];
                std::snprintf(tail, sizeof tail, "%02d%c%02d%c%03d", bd.year % 100, "ABCDEHLMPRST"[bd.month - 1],
                              bd.day + (k.sex == 'F' ? 40 : 0), static_cast<char>('A' + r.between(0, 25)),
                              static_cast<int>(r.between(100, 999)));
                code += tail;
                code += static_cast<char>('A' + r.between(0, 25));
                row += "," + lit(fit(k.city->name, 35)) + "," + lit(k.city->province) + "," + sqlDate(birth) + "," +
                       lit(code) + ",NULL";
            }
            if (k.kind == Employee || k.kind == Supplier) {
                const std::size_t bank = static_cast<std::size_t>(r.between(0, static_cast<std::int64_t>(std::size(kBanks)) - 1));
                row += ",'IT" + digits(r, 2) + static_cast<char>('A' + r.between(0, 25)) + digits(r, 22) + "','" +
                       kBics[bank] + "'," + lit(kBanks[bank]) + "," + lit(k.name);
            } else {
                row += ",NULL,NULL,NULL,NULL";
            }
            row += "," + lit(fit(asciiSlug(k.name), 50)) + "," + (k.organisation ? std::string("NULL") : lit(std::string(1, k.sex))) +
                   ",1";
            b.add(row);
        }
        b.finish();
    }

    struct Project {
        int id;
        int funder;  // index into funders_
        std::string type, number, shortTitle;
        int country;
        std::int64_t start, end;
    };

    void projects() {
        std::array<int, 8> perType{};
        Random r(tableSeeds_[TProjects]);
        for (int i = 0; i < plan_.projects; ++i) {
            Project p;
            p.id = i + 1;
            p.funder = 1 + i % (static_cast<int>(funders_.size()) - 1);  // the institutional funders in turn
            if (i % 7 == 6) p.funder = 0;                                   // now and then on the organisation's own funds
            p.type = funders_[static_cast<std::size_t>(p.funder)].type;
            const int k = perType[static_cast<std::size_t>(p.funder)]++;
            p.start = r.between(dayNumber(2019, 1, 1), dayNumber(2023, 6, 30));
            p.end = p.start + 365 * r.between(1, 3);
            // The first regional grant has no number: its budget table is named after the type alone.
            p.number = p.type == "Regione" && k == 0 ? "" : num(civilDate(p.start).year % 100 * 100 + k + 1);
            const ProjectTitle& t = kProjectTitles[static_cast<std::size_t>(i) % std::size(kProjectTitles)];
            p.shortTitle = t.shortTitle;
            p.country = t.country;
            projects_.push_back(p);
        }

        BulkInsert b = insert("progetti",
                              "ID, idFinanziatore, Type, Number, Description, TitoloBreve, IdDateStart, IdDateEnd, Report, "
                              "ProjectLocation, KindOfProject, PrimoReport, Revision, IDConto, IdDate, IdSede, Chiuso, "
                              "IdValutaReport, idSedeLocale, Infoeuro, QuotaOng, QuotaTerzi, QuotaVal, MesiExtra",
                              plan_.projects);
        for (const Project& p : projects_) {
            const std::size_t titleIndex = static_cast<std::size_t>(p.id - 1) % std::size(kProjectTitles);
            const ProjectTitle& t = kProjectTitles[titleIndex];
            std::string description = t.description;
            const std::size_t round = static_cast<std::size_t>(p.id - 1) / std::size(kProjectTitles);
            if (round > 0) description = fit(description, 40) + " (fase " + num(static_cast<std::int64_t>(round) + 1) + ")";
            const int quotaOng = p.funder == 0 ? 100 : 10 + 5 * (p.id % 3);
            b.add(num(p.id) + "," + num(p.funder + 1) + "," + lit(p.type) + "," + lit(p.number) + "," +
                  lit(fit(description, 50)) + "," + lit(fit(p.shortTitle, 30)) + "," + sqlDate(p.start) + "," +
                  sqlDate(p.end) + ",6," + lit(t.location) + "," + lit(t.kind) + ",0,0," +
                  num(accountId("C.IV.2.1")) + "," + sqlDate(p.start) + ",1," + (p.end < kLastDay ? "1" : "0") +
                  ",1,1,1," + num(quotaOng) + "," + num(100 - quotaOng) + ",0,0");
        }
        b.finish();
        budgets();
    }

    // Each project's budget table: one row per budgeted account, per year of the project the budget
    // (Budget_1_n funder share, Budget_2_n own share) and what was spent of it.
    void budgets() {
        std::string columns;
        for (const std::string& c : budgetTableColumns()) columns += (columns.empty() ? " " : ", ") + c;
        const std::vector<int> accounts = budgetAccounts();
        for (const Project& p : projects_) {
            const std::string table = budgetTableName(p.type, p.number);
            c_.execute("CREATE TABLE [" + table + "] (" + columns + " )");
            Random r = rowRandom(tableSeeds_[TBudget], p.id);
            const int years = static_cast<int>((p.end - p.start) / 365);
            const int quotaOng = p.funder == 0 ? 100 : 10 + 5 * (p.id % 3);
            std::string insertColumns =
                "ID, IDConto, IDValuta, Numeroconto, Nomeconto, IDTipoConto, ContoReport";
            for (int n = 1; n <= years; ++n)
                for (const char* family : {"Expenses", "euroexpenses", "Budget"})
                    for (int half = 1; half <= 2; ++half)
                        insertColumns += std::string(", ") + family + "_" + num(half) + "_" + num(n);
            insertColumns += ", Budgetapproved, Budgetproposal, Revision1, BudgetRevised1, PContribution, "
                             "O_Contribution, QuotaTerzi, QuotaOng, QuotaAltri";
            BulkInsert b = insert(table, insertColumns, static_cast<std::int64_t>(accounts.size()));
            std::int64_t row = 0;
            for (int accountIdValue : accounts) {
                const Account& a = kAccounts[accountIdValue - 1];
                std::string values = num(++row) + "," + num(accountIdValue) + ",1," + lit(a.number) + "," +
                                     lit(a.name) + "," + num(a.type) + "," + lit(a.number);
                std::int64_t approved = 0;
                for (int n = 1; n <= years; ++n) {
                    const std::int64_t budget = r.between(50, 4000) * 1000;  // whole tens of euro
                    const std::int64_t funderShare = budget * (100 - quotaOng) / 100;
                    const std::int64_t ownShare = budget - funderShare;
                    // Years already closed are fully reported; the running one in part.
                    const std::int64_t spentPercent = r.between(60, 105);
                    const std::int64_t spent1 = funderShare * spentPercent / 100;
                    const std::int64_t spent2 = ownShare * spentPercent / 100;
                    values += "," + sqlMoney(spent1) + "," + sqlMoney(spent2) + "," + sqlMoney(spent1) + "," +
                              sqlMoney(spent2) + "," + sqlMoney(funderShare) + "," + sqlMoney(ownShare);
                    approved += budget;
                }
                const bool revised = r.chance(30);
                values += "," + sqlMoney(approved) + "," + sqlMoney(approved + approved / 10) + "," +
                          (revised ? sqlMoney(approved / 20) : "NULL") + "," +
                          (revised ? sqlMoney(approved + approved / 20) : "NULL") + "," + num(100 - quotaOng) + "," +
                          num(quotaOng) + "," + sqlMoney((100 - quotaOng) * 100) + "," + sqlMoney(quotaOng * 100) + ",0.00";
                b.add(values);
            }
            b.finish();
        }
    }

    // The general ledger: every transaction is two rows, the debit (ImportoDepositi) on one account and
    // the credit (ImportoPrelievi) on the other, numbered in date order.
    void ledger() {
        BulkInsert b = insert("partitadoppia",
                              "NumeroTransazione, DataTransazione, IDConto, IDContatto, IdValuta, ImportoDepositi, "
                              "ImportoPrelievi, Description, Ref_Nr, EuroDepositi, EuroPrelievi, IdProgetto, DataReport, "
                              "Spunta, Correzione, Definito, IdSede, IdProgettoAdmin, idSedeLocale, IdSedeCompetenza, "
                              "IdSedeAmm, IsoValuta, TassoCambio, idPagamento",
                              plan_.ledgerRows);
        const std::int64_t transactions = plan_.ledgerRows / 2;
        const int bank = accountId("C.IV.2.1"), bank2 = accountId("C.IV.2.2"), paypal = accountId("C.IV.3.1"),
                  fieldCash = accountId("C.IV.1.2");
        for (std::int64_t t = 0; t < transactions; ++t) {
            Random r = rowRandom(tableSeeds_[TLedger], t);
            const std::int64_t day =
                kFirstDay + (transactions > 1 ? t * (kLastDay - kFirstDay) / (transactions - 1) : 0);
            const CivilDate d = civilDate(day);
            const std::int64_t roll = r.between(1, 100);
            int debit = 0, credit = 0, currency = 0;
            std::int64_t contact = 0, project = 0, euros = 0;
            std::string description, reference;
            if (roll <= 40) {  // a donation received
                contact = someContact(r, Donor);
                const Contact k = contactAt(contact);
                static constexpr std::int64_t kGifts[] = {1000, 2000, 2500, 3000, 5000, 5000, 10000, 15000, 25000, 50000};
                euros = r.chance(70) ? r.pick(kGifts) : r.between(500, 200000);
                debit = r.chance(20) ? paypal : bank;
                credit = k.organisation ? accountId("A.1.1.2") : r.chance(90) ? accountId("A.1.1.1") : accountId("A.1.4");
                description = "Donazione di " + k.name;
                reference = "Bonifico " + num(r.between(100000, 999999));
            } else if (roll <= 70) {  // a project expense, often paid in the local currency
                const Project& p = projects_[static_cast<std::size_t>(r.between(0, plan_.projects - 1))];
                project = p.id;
                contact = someContact(r, Supplier);
                debit = accountId("B.1.1") + static_cast<int>(r.between(0, 9));
                euros = r.between(2000, 1500000);
                const bool local = kCountries[p.country].currency != std::string_view("EUR") && r.chance(40);
                currency = local ? currencyIndex(kCountries[p.country].currency) : 0;
                credit = local ? fieldCash : bank;
                description = std::string(kAccounts[debit - 1].name) + " - " + p.shortTitle;
                reference = "Fatt. " + num(r.between(1, 999)) + "/" + num(d.year);
            } else if (roll <= 80) {  // a salary
                contact = someContact(r, Employee);
                const Contact k = contactAt(contact);
                debit = accountId("B.2.1");
                credit = bank;
                euros = r.between(110000, 320000);
                description = "Stipendio " + std::string(kMonths[d.month - 1]) + " " + num(d.year) + " " + k.name;
                reference = "Cedolino " + num(d.month) + "/" + num(d.year);
            } else if (roll <= 92) {  // running costs of the office
                contact = someContact(r, Supplier);
                debit = accountId("B.3.1") + static_cast<int>(r.between(0, 6));
                credit = r.chance(80) ? bank : r.chance(50) ? bank2 : accountId("C.IV.1.1");
                euros = debit == accountId("B.3.1") ? 120000 : r.between(3000, 250000);
                description = std::string(kAccounts[debit - 1].name) + " " + kMonths[d.month - 1] + " " + num(d.year);
                reference = "Fatt. " + num(r.between(1, 2500)) + "/" + num(d.year);
            } else if (roll <= 97) {  // a tranche of a grant
                const Project& p = projects_[static_cast<std::size_t>(r.between(0, plan_.projects - 1))];
                project = p.id;
                const Funder& f = funders_[static_cast<std::size_t>(p.funder)];
                debit = bank;
                credit = f.incomeAccount;
                euros = r.between(1000000, 15000000);
                description = fit("Erogazione tranche " + num(r.between(1, 4)) + " - " + f.name + " - " + p.shortTitle, 60);
                reference = "Contratto " + p.type + "/" + (p.number.empty() ? std::string("RL") : p.number);
            } else {  // bank charges or interest
                const bool interest = r.chance(30);
                debit = interest ? bank : accountId("B.3.6");
                credit = interest ? accountId("A.3.1") : bank;
                euros = r.between(100, 5000);
                description = std::string(interest ? "Interessi attivi " : "Commissioni bancarie ") + kMonths[d.month - 1] +
                              " " + num(d.year);
                reference = "Estratto conto " + num(d.month) + "/" + num(d.year);
            }
            const Currency& cur = kCurrencies[currency];
            const std::int64_t amount = euros * cur.rateMicros / 1000000;
            const std::string common = "," + sqlText(fit(description, 60)) + "," + sqlText(fit(reference, 50));
            const std::string tail = "," + (project ? num(project) : std::string("NULL")) + "," + sqlDate(day) +
                                     ",0,0,1,1," + (project ? num(project) : std::string("0")) + ",1,1,1," +
                                     lit(cur.code) + "," + sqlRate(cur.rateMicros) + ",0";
            const std::string head = num(t + 1) + "," + sqlDate(day) + ",";
            const std::string who = "," + (contact ? num(contact) : std::string("NULL")) + "," + num(currency + 1) + ",";
            b.add(head + num(debit) + who + sqlMoney(amount) + ",0.00" + common + "," + sqlMoney(euros) + ",0.00" + tail);
            b.add(head + num(credit) + who + "0.00," + sqlMoney(amount) + common + ",0.00," + sqlMoney(euros) + tail);
        }
        b.finish();
    }

    void donations() {
        BulkInsert b = insert("DonazioniIncassi",
                              "idDonazione, idContatto, iddonatore, idConto, idContoCp, idProgetto, Donazione, "
                              "DataDonazione, idsedecompetenza, idsedeAmm, idvaluta, idsede, DataInizio, Description, "
                              "DonazioneV, datareport, Ref_Nr, NrRicevuta",
                              plan_.donations);
        static constexpr const char* kReasons[] = {"Donazione liberale", "Sostegno a distanza - quota annuale",
                                                   "Raccolta fondi di Natale", "In memoria di una persona cara",
                                                   "Bomboniere solidali", "Campagna Un pozzo per l'Africa"};
        for (std::int64_t i = 0; i < plan_.donations; ++i) {
            Random r = rowRandom(tableSeeds_[TDonations], i);
            const std::int64_t day =
                kFirstDay + (plan_.donations > 1 ? i * (kLastDay - kFirstDay) / (plan_.donations - 1) : 0);
            const std::int64_t donor = someContact(r, Donor);
            const std::int64_t cents = r.chance(60) ? 1000 * r.between(1, 30) : r.between(500, 500000);
            const bool forProject = r.chance(25);
            const std::string project =
                forProject ? num(projects_[static_cast<std::size_t>(r.between(0, plan_.projects - 1))].id) : "NULL";
            std::string reason = r.pick(kReasons);
            if (r.chance(5)) reason = "Cinque per mille " + num(civilDate(day).year - 2);
            b.add(num(i + 1) + "," + num(donor) + "," + num(donor) + "," +
                  num(reason.rfind("Cinque", 0) == 0 ? accountId("A.1.1.3") : accountId("A.1.1.1")) + "," +
                  num(r.chance(80) ? accountId("C.IV.2.1") : accountId("C.IV.3.1")) + "," + project + "," +
                  sqlMoney(cents) + "," + sqlDate(day) + ",1,1,1,1," + sqlDate(day) + "," + lit(fit(reason, 60)) + "," +
                  sqlMoney(cents) + "," + sqlDate(day) + "," + lit(r.chance(50) ? "Bonifico bancario" : "C/C postale") +
                  "," + num(i + 1));
        }
        b.finish();
    }

    // A payslip: its row of bustetesta and the rows of bustedettaglio that charge its cost to one to
    // three projects. Rebuilt from its number, so that the two tables are filled one after the other.
    struct Payslip {
        std::string head;
        std::vector<std::string> details;
    };
    Payslip payslipAt(std::int64_t i) const {
        Random r = rowRandom(tableSeeds_[TPayroll], i);
        const std::int64_t employee = i % employees_ + 1;
        const std::int64_t monthIndex = i / employees_;
        const int year = 2019 + static_cast<int>(monthIndex / 12 % 6);
        const int month = static_cast<int>(monthIndex % 12) + 1;
        const std::int64_t lastDay = dayNumber(month == 12 ? year + 1 : year, month == 12 ? 1 : month + 1, 1) - 1;
        const std::int64_t gross = r.between(1800, 3800) * 100 + r.between(0, 99);
        const std::int64_t inps = gross * 919 / 10000;
        const std::int64_t employerInps = gross * 3000 / 10000;
        const std::int64_t employerInail = gross * 40 / 10000;
        const std::int64_t taxable = gross - inps;
        const std::int64_t grossTax = taxable * 23 / 100 + (taxable > 250000 ? (taxable - 250000) * 10 / 100 : 0);
        const std::int64_t deduction = std::min(grossTax, r.between(10000, 16000));
        const std::int64_t netTax = grossTax - deduction;
        const std::int64_t regional = taxable * 123 / 10000, municipal = taxable * 80 / 10000;
        const std::int64_t net = gross - inps - netTax - regional - municipal;
        const int project = projects_[static_cast<std::size_t>(r.between(0, plan_.projects - 1))].id;
        Payslip slip;
        slip.head = num(employee) + ",N'Debito'," + sqlDate(lastDay) + "," + sqlDate(lastDay + 10) + ",1,1," +
                    sqlMoney(inps) + ",0," + sqlMoney(employerInps) + "," + sqlMoney(employerInail) + "," +
                    sqlMoney(deduction) + ",0," + sqlMoney(grossTax) + ",0,0," + num(i + 1) + ",1," + num(project) +
                    "," + sqlDate(lastDay) + "," + sqlMoney(net) + "," + sqlMoney(netTax) + "," + sqlMoney(regional) +
                    "," + sqlMoney(municipal) + ",1," + sqlMoney(employerInps) + "," + sqlMoney(employerInail) + "," +
                    sqlMoney(gross) + "," + sqlMoney(gross) + ",9.19,0.40";
        // The cost split over projects: 100; 60/40; 50/30/20.
        static constexpr int kSplits[3][3] = {{100, 0, 0}, {60, 40, 0}, {50, 30, 20}};
        const int parts = static_cast<int>(i % 3) + 1;
        std::int64_t charged = 0;
        for (int part = 0; part < parts; ++part) {
            const int percent = kSplits[parts - 1][part];
            const std::int64_t share = part == parts - 1 ? gross - charged : gross * percent / 100;
            charged += share;
            const int splitProject =
                part == 0 ? project : projects_[static_cast<std::size_t>(r.between(0, plan_.projects - 1))].id;
            const int account = r.chance(50) ? accountId("B.1.2") : accountId("B.2.1");
            slip.details.push_back(num(i + 1) + "," + num(splitProject) + "," + num(account) + "," + num(percent) + "," +
                                   sqlMoney(share) + ",0.00," + sqlMoney(share) + ",0.00," +
                                   lit("Stipendio " + std::string(kMonths[month - 1]) + " " + num(year)) + "," +
                                   lit("Cedolino " + num(i + 1)) + "," + sqlDate(lastDay) + ",1");
        }
        return slip;
    }

    // Payslips: one per employee and month, in month order.
    void payroll() {
        BulkInsert head = insert("bustetesta",
                                 "IDContatto, Debito_Credito, DataBusta, DataPagamento, IdSede, IdValuta, InpsDipendente, "
                                 "InailDipendente, InpsDatore, InailDatore, DetrazioneIrpef, ConguaglioIrpef, IrpefLorda, "
                                 "AltreTrattenute, Acconti, IdBusta, idSedeLocale, IdProgetto, DataReport, NettoInBusta, "
                                 "IrpefNetta, AddRegionale, AddComunale, IdSedeAmm, Oneri0, Oneri1, ImponibileInps, "
                                 "ImponibileInail, AlInps, AlInail",
                                 plan_.payslips);
        for (std::int64_t i = 0; i < plan_.payslips; ++i) head.add(payslipAt(i).head);
        head.finish();
        BulkInsert detail = insert("bustedettaglio",
                                   "IdBusta, IdProgetto, IDConto, PercentualeProgetto, ImportoDepositi, ImportoPrelievi, "
                                   "EuroDepositi, EuroPrelievi, Description, Ref_Nr, DataReport, idSedeLocale",
                                   plan_.payslipDetails);
        for (std::int64_t i = 0; i < plan_.payslips; ++i)
            for (const std::string& row : payslipAt(i).details) detail.add(row);
        detail.finish();
    }

    data::Connection& c_;
    const CompanyProfile& company_;
    const RowPlan& plan_;
    const std::function<void(const std::string&)>& progress_;
    std::vector<Funder> funders_;
    std::array<std::uint64_t, TTableCount> tableSeeds_{};
    std::int64_t employees_ = 3;
    std::vector<Project> projects_;
};

}  // namespace

void fillCompany(data::Connection& connection, const CompanyProfile& company, const RowPlan& plan,
                 std::uint64_t seed, const std::function<void(const std::string&)>& progress) {
    CompanyFiller(connection, company, plan, seed, progress).run();
}

}  // namespace vopa::demo
