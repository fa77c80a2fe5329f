#include "Pseudonyms.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/text/Text.h"

namespace vopa::anonymise {
namespace {

// ---- the pools ------------------------------------------------------------------------------------

constexpr const char* kFirstNames[] = {
    "Adele",    "Adriano",  "Agostino", "Alberto",  "Alda",     "Alessio",   "Alfredo",   "Alice",
    "Amalia",   "Ambra",    "Amedeo",   "Angelo",   "Annalisa", "Arianna",   "Armando",   "Arturo",
    "Aurora",   "Bianca",   "Bruna",    "Bruno",    "Camilla",  "Carla",     "Carlo",     "Carolina",
    "Cecilia",  "Celeste",  "Cesare",   "Cinzia",   "Claudio",  "Clelia",    "Corrado",   "Cristina",
    "Dario",    "Debora",   "Delia",    "Diego",    "Dino",     "Donatella", "Edoardo",   "Elena",
    "Elio",     "Emma",     "Enrico",   "Enzo",     "Ermes",    "Ettore",    "Eugenio",   "Fabio",
    "Fausto",   "Fiamma",   "Filippo",  "Fiorella", "Flavia",   "Franco",    "Gabriella", "Gaia",
    "Germana",  "Gianni",   "Gilda",    "Gino",     "Giorgio",  "Gisella",   "Guido",     "Ida",
    "Ignazio",  "Irene",    "Ivo",      "Jacopo",   "Lara",     "Leonardo",  "Letizia",   "Licia",
    "Lidia",    "Linda",    "Livio",    "Loredana", "Luciano",  "Ludovica",  "Luigi",     "Manlio",
    "Mara",     "Marcella", "Margherita", "Marina", "Mario",    "Massimo",   "Mattia",    "Maurizio",
    "Michela",  "Milena",   "Mirko",    "Nadia",    "Nando",    "Nella",     "Nicola",    "Nora",
    "Olga",     "Oreste",   "Orlando",  "Ottavio",  "Pamela",   "Patrizia",  "Piero",     "Priscilla",
    "Renato",   "Riccardo", "Rita",     "Roberta",  "Rocco",    "Romeo",     "Rosanna",   "Sabrina",
    "Sandro",   "Sara",     "Sergio",   "Silvana",  "Silvio",   "Sofia",     "Sonia",     "Tiziana",
    "Tullio",   "Ugo",      "Umberto",  "Valentina", "Valerio", "Vanessa",   "Vera",      "Vittoria",
    "Viola",    "Walter",   "Zelda",    "Zeno",
    // The most common ones, which the originals are most likely to hold: a word among them in a full
    // name is taken for a first name.
    "Agnese",   "Alessandra", "Alessandro", "Andrea", "Angela",  "Anna",      "Antonella", "Antonio",
    "Barbara",  "Beatrice", "Benedetta", "Caterina", "Chiara",   "Daniela",   "Daniele",   "Davide",
    "Domenico", "Elisa",    "Elisabetta", "Emanuele", "Federica", "Federico", "Francesca", "Francesco",
    "Gabriele", "Giacomo",  "Giovanna", "Giovanni", "Giulia",   "Giuseppe",  "Ilaria",    "Laura",
    "Lorenzo",  "Luca",     "Lucia",    "Marco",    "Maria",    "Martina",   "Matteo",    "Michele",
    "Monica",   "Niccolò",  "Nicolò",   "Noemi",    "Paola",    "Paolo",     "Pietro",    "Raffaele",
    "Rosa",     "Rosalia",  "Salvatore", "Serena",  "Simona",   "Simone",    "Stefania",  "Stefano",
    "Teresa",   "Tommaso",  "Vincenzo",
};

// Surnames are made of a beginning, an optional middle and an ending, which gives some 20,000 of them,
// of the shape Italian surnames have.
constexpr const char* kSurnameStarts[] = {
    "Bel", "Bor", "Cal", "Cas", "Cor", "Dal", "Fer", "Fior", "Gal", "Gar", "Lan", "Lor", "Mar", "Mor", "Nar",
    "Pal", "Par", "Pel", "Ros", "Sal", "San", "Ser", "Tor", "Val", "Ver", "Zan", "Alb", "Ben", "Bon", "Car",
    "Cer", "Col", "Fab", "Fal", "Gen", "Grav", "Lom", "Man", "Mas", "Mel", "Mon", "Nic", "Ors", "Pag", "Pas",
    "Pir", "Pol", "Riv", "Rug", "Scal", "Sil", "Tam", "Ter", "Tos", "Vit", "Zam", "Brun", "Del", "Fan", "Gual",
};
// Empty more often than not: most surnames have two parts.
constexpr const char* kSurnameMiddles[] = {"", "", "", "", "an", "er", "ol", "at", "ic", "ar", "in", "et"};
constexpr const char* kSurnameEnds[] = {
    "etti", "otti", "ini", "oni", "ucci", "ello", "elli", "ari", "eri", "ardi", "aldi", "anti", "ozzi", "ato",
    "ati", "esi", "ighi", "olini", "ella", "usso", "one", "ieri", "ana", "ese", "inelli", "accio", "azzi", "iani",
    "ugno", "ero", "ale", "enti", "ilio", "urro", "egna", "occhi", "uzzi", "aro", "oldi", "ace",
    "li", "ni", "ri", "ti", "si", "lo", "no", "ro", "to", "ra",
};

constexpr const char* kCities[] = {
    "Abbiategrasso", "Acqui Terme", "Alba", "Albenga", "Alghero", "Altamura", "Anagni", "Arona", "Ascoli Piceno",
    "Asolo", "Assisi", "Avezzano", "Bagnacavallo", "Barga", "Bassano del Grappa", "Belluno", "Biella",
    "Bobbio", "Bra", "Brisighella", "Camogli", "Caorle", "Carpi", "Casale Monferrato", "Castelfranco Veneto",
    "Cecina", "Cefalù", "Cento", "Cervia", "Chiavari", "Chioggia", "Cittadella", "Civitanova Marche",
    "Conegliano", "Cortona", "Crema", "Cuneo", "Desenzano del Garda", "Empoli", "Este", "Fabriano", "Faenza",
    "Fano", "Feltre", "Fidenza", "Foligno", "Gallipoli", "Gubbio", "Imola", "Ivrea", "Jesi", "Lanciano",
    "Lodi", "Lugo", "Macerata", "Manduria", "Mantova", "Marsala", "Massa Marittima", "Matera", "Merano",
    "Mirandola", "Modica", "Mondovì", "Montepulciano", "Monza", "Nardò", "Noto", "Novara", "Oderzo", "Orvieto",
    "Ostuni", "Pavia", "Pinerolo", "Piombino", "Pistoia", "Pordenone", "Rapallo", "Ravenna", "Rieti", "Rovereto",
    "Rovigo", "Saluzzo", "San Miniato", "Sansepolcro", "Sarzana", "Sassuolo", "Savigliano", "Schio",
    "Senigallia", "Sondrio", "Spoleto", "Sutri", "Tarquinia", "Termoli", "Thiene", "Tivoli", "Todi", "Tolentino",
    "Trani", "Treviglio", "Urbino", "Varese", "Vasto", "Vercelli", "Viterbo", "Vittoria", "Voghera", "Volterra",
};

constexpr const char* kProvinces[] = {
    "AG", "AL", "AN", "AO", "AP", "AQ", "AR", "AT", "AV", "BA", "BG", "BI", "BL", "BN", "BO", "BR", "BS", "BT",
    "BZ", "CA", "CB", "CE", "CH", "CL", "CN", "CO", "CR", "CS", "CT", "CZ", "EN", "FC", "FE", "FG", "FI", "FM",
    "FR", "GE", "GO", "GR", "IM", "IS", "KR", "LC", "LE", "LI", "LO", "LT", "LU", "MB", "MC", "ME", "MI", "MN",
    "MO", "MS", "MT", "NA", "NO", "NU", "OR", "PA", "PC", "PD", "PE", "PG", "PI", "PN", "PO", "PR", "PT", "PU",
    "PV", "PZ", "RA", "RC", "RE", "RG", "RI", "RM", "RN", "RO", "SA", "SI", "SO", "SP", "SR", "SS", "SU", "SV",
    "TA", "TE", "TN", "TO", "TP", "TR", "TS", "TV", "UD", "VA", "VB", "VC", "VE", "VI", "VR", "VT", "VV",
};

constexpr const char* kStreetKinds[] = {"Via", "Via", "Via", "Viale", "Piazza", "Corso", "Vicolo", "Largo"};
constexpr const char* kStreetNames[] = {
    "dei Tigli", "delle Rose", "dei Gelsi", "delle Viole", "dei Mulini", "della Fontana", "del Lavoro",
    "delle Acacie", "dei Castagni", "del Sole", "della Stazione", "delle Mura", "dei Pescatori", "del Borgo",
    "della Pace", "degli Artigiani", "dei Ciliegi", "delle Querce", "del Porto", "dei Giardini", "delle Ginestre",
    "del Mercato", "della Chiesa", "dei Fiori", "delle Officine", "del Ponte", "della Vigna", "dei Platani",
    "Alessandro Volta", "Galileo Galilei", "Enrico Fermi", "Giosuè Carducci", "Ugo Foscolo", "Grazia Deledda",
    "Luigi Pirandello", "Eleonora Duse", "Maria Montessori", "Pietro Mascagni", "Antonio Meucci", "Ada Negri",
    "Camillo Golgi", "Guglielmo Marconi", "Tazio Nuvolari", "Lina Cavalieri", "Italo Svevo", "Sibilla Aleramo",
    "Piero della Francesca", "Ludovico Ariosto", "Torquato Tasso", "Vittoria Colonna",
};

constexpr const char* kBankKinds[] = {"Banca di Credito Cooperativo di", "Cassa Rurale di", "Banca Popolare di",
                                      "Cassa di Risparmio di"};

// Words of names that say what a name is rather than whose it is: kept in a pseudonym.
constexpr const char* kGenericWords[] = {
    "di", "de", "del", "della", "delle", "dei", "degli", "dello", "d", "e", "ed", "il", "la", "lo", "le", "i",
    "gli", "l", "a", "al", "alla", "per", "con", "in", "su", "da", "and", "of", "the", "associazione",
    "fondazione", "cooperativa", "sociale", "onlus", "odv", "aps", "ong", "ets", "srl", "spa", "snc", "sas",
    "s", "r", "p", "banca", "comune", "provincia", "regione", "parrocchia", "circolo", "gruppo", "centro",
    "istituto", "scuola", "società", "studio", "impresa", "ditta", "comitato", "federazione", "consorzio",
    "ente", "ufficio", "fratelli", "eredi", "sig", "sigra", "dott", "dottssa", "dr", "ing", "avv", "prof", "rag",
    "geom", "arch", "volontariato", "solidarietà", "cooperazione", "libreria", "bar", "pizzeria", "ristorante",
    "trattoria", "farmacia", "panificio", "cartoleria", "tipografia", "officina", "autofficina", "ferramenta",
    "supermercato", "alimentari", "agenzia", "assicurazioni", "edizioni", "editrice", "servizi", "sistemi",
    "costruzioni", "trasporti", "viaggi", "caritas", "diocesi", "oratorio", "asilo", "liceo", "università",
    "ospedale", "clinica", "casa", "hotel", "albergo", "negozio", "laboratorio", "azienda", "agricola",
    "fattoria", "cantina", "forno", "mercato", "club", "team", "sport", "sportiva", "polisportiva", "musicale",
    "teatro", "cinema", "museo", "biblioteca", "fondo", "unione", "lega", "rete", "progetto", "amici",
    "insieme", "nord", "sud", "est", "ovest", "italia", "italiana", "italiano", "internazionale", "nazionale",
    // The commonest Italian words that are nobody's name, which a name written in capitals carries.
    "che", "non", "c'è", "è", "un", "uno", "una", "tra", "fra", "ai", "agli", "alle", "allo", "dal", "dalla",
    "dai", "dagli", "dalle", "nel", "nella", "nei", "negli", "nelle", "sul", "sulla", "sui", "o", "ma", "se",
    "come", "più", "noi", "voi", "loro", "tutti", "nostra", "nostro", "mondo", "vita", "pace", "terra", "san",
    "santa", "santo", "via", "piazza",
};

const std::unordered_set<std::string>& genericWords() {
    static const std::unordered_set<std::string> words(std::begin(kGenericWords), std::end(kGenericWords));
    return words;
}

const char kOddValues[26] = {1, 0, 5, 7, 9, 13, 15, 17, 19, 21, 2, 4, 18, 20, 11, 3, 6, 8, 12, 14, 16, 10, 22, 25, 24, 23};

int alphanumericValue(char c) { return c >= '0' && c <= '9' ? c - '0' : c - 'A'; }

// The check letter the fiscal code and the CIN share: odd positions through the odd table, even ones
// by value.
char oddEvenCheck(std::string_view text) {
    int sum = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int value = alphanumericValue(text[i]);
        if (value < 0 || value > 25) throw std::invalid_argument("not a digit or capital letter");
        sum += i % 2 == 0 ? kOddValues[value] : value;
    }
    return static_cast<char>('A' + sum % 26);
}

// ---- text helpers ---------------------------------------------------------------------------------

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// How values are compared: the server compares names without case and trailing blanks.
std::string folded(std::string_view value) { return text::toLower(trimmed(value)); }

bool isLetterOrDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c < 0x2000);
}
bool isApostrophe(char32_t c) { return c == '\'' || c == 0x2019; }

struct Token {
    std::size_t begin, end;
};

// The words of `text`: letters and digits, with an apostrophe between two letters inside the word
// ("D'Angelo", "L'Aquila").
std::vector<Token> wordsOf(std::string_view text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    bool inWord = false;
    std::size_t start = 0, lastEnd = 0;
    while (i < text.size()) {
        const std::size_t at = i;
        const char32_t c = text::nextCodePoint(text, i);
        if (isLetterOrDigit(c)) {
            if (!inWord) start = at;
            inWord = true;
            lastEnd = i;
        } else if (inWord && isApostrophe(c) && i < text.size()) {
            std::size_t next = i;
            if (isLetterOrDigit(text::nextCodePoint(text, next))) continue;  // the word goes on
            tokens.push_back({start, lastEnd});
            inWord = false;
        } else if (inWord) {
            tokens.push_back({start, lastEnd});
            inWord = false;
        }
    }
    if (inWord) tokens.push_back({start, lastEnd});
    return tokens;
}

// A word written with a small first letter.
bool startsSmall(std::string_view word) {
    std::size_t i = 0;
    const char32_t c = text::nextCodePoint(word, i);
    return (c >= 'a' && c <= 'z') || (c >= 0xDF && c <= 0xFF && c != 0xF7);
}

// Capitals and small letters both: a name as people write it, not a slug or a code.
bool mixedCase(std::string_view text) { return text::toUpper(text) != text && text::toLower(text) != text; }

bool hasLetter(std::string_view word) {
    return std::any_of(word.begin(), word.end(), [](char c) { return !(c >= '0' && c <= '9'); });
}

// The case of the original word carried over: all capitals, all small letters, or as the pool has it.
std::string inCaseOf(std::string_view original, const std::string& replacement) {
    const std::string upper = text::toUpper(original), lower = text::toLower(original);
    if (upper == lower) return replacement;
    if (original == upper && text::lengthInChars(original) > 1) return text::toUpper(replacement);
    if (original == lower) return text::toLower(replacement);
    return replacement;
}

// At most `maxChars` characters (0: all), never cutting a character in two.
std::string cut(std::string text, std::size_t maxChars) {
    if (maxChars == 0) return text;
    std::size_t i = 0, chars = 0;
    while (i < text.size() && chars < maxChars) {
        text::nextCodePoint(text, i);
        ++chars;
    }
    text.resize(i);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// Small ASCII letters and digits only, for e-mail addresses and web sites.
std::string slug(std::string_view text) {
    static const char* const from = "àáâäèéêëìíîïòóôöùúûüçñ";
    static const char* const to = "aaaaeeeeiiiioooouuuucn";
    std::string out;
    const std::string lower = text::toLower(text);
    for (std::size_t i = 0; i < lower.size();) {
        const char32_t c = text::nextCodePoint(lower, i);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
            continue;
        }
        std::string one;
        text::appendUtf8(one, c);
        const char* found = std::strstr(from, one.c_str());
        if (found && !one.empty() && one.size() > 1) {
            std::size_t index = 0;
            for (std::size_t j = 0; from + j < found;) {
                text::nextCodePoint(from, j);
                ++index;
            }
            out += to[index];
        }
    }
    return out;
}

std::string digitsOf(std::uint64_t h, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += static_cast<char>('0' + h % 10);
        h /= 10;
        if (h == 0) h = 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(i + 7);
    }
    return out;
}

template <std::size_t N>
const char* one(const char* const (&pool)[N], std::uint64_t h) {
    return pool[h % N];
}

std::string makeFirstName(std::uint64_t h) { return one(kFirstNames, h); }

std::string makeSurname(std::uint64_t h) {
    const std::size_t starts = std::size(kSurnameStarts), middles = std::size(kSurnameMiddles);
    std::string s = kSurnameStarts[h % starts];
    h /= starts;
    s += kSurnameMiddles[h % middles];
    h /= middles;
    return s + kSurnameEnds[h % std::size(kSurnameEnds)];
}

std::string makeCity(std::uint64_t h) { return one(kCities, h); }
std::string makeProvince(std::uint64_t h) { return one(kProvinces, h); }
std::string makePostcode(std::uint64_t h) { return digitsOf(h, 5); }

std::string makeAddress(std::uint64_t h) {
    std::string s = std::string(one(kStreetKinds, h)) + " " + one(kStreetNames, h >> 8);
    return s + " " + std::to_string(1 + (h >> 20) % 150);
}



std::string makeEmail(std::uint64_t h) {
    // Name and surname apart from the number, so that a word of an original is recognised in it.
    return slug(makeFirstName(h)) + "." + slug(makeSurname(h >> 10)) + "." + std::to_string((h >> 40) % 100) +
           "@example.org";
}

std::string makeWebsite(std::uint64_t h) { return "www." + slug(makeSurname(h)) + ".example.org"; }

std::string makeVatNumber(std::uint64_t h) {
    std::string digits = digitsOf(h, 7) + digitsOf(h >> 30, 3);
    int sum = 0;
    for (std::size_t i = 0; i < 10; ++i) {
        int d = digits[i] - '0';
        if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
        sum += d;
    }
    return digits + static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string makeFiscalCode(std::uint64_t h) {
    static const char consonants[] = "BCDFGLMNPRSTVZ";
    static const char vowels[] = "AEIOU";
    static const char months[] = "ABCDEHLMPRST";
    std::string code;
    for (int i = 0; i < 6; ++i, h /= 14) code += i == 2 || i == 4 ? vowels[h % 5] : consonants[h % 14];
    h = h * 0x9E3779B97F4A7C15ull + 1;
    code += digitsOf(h, 2);
    code += months[(h >> 8) % 12];
    const int day = 1 + static_cast<int>((h >> 12) % 28) + ((h >> 20) % 2 ? 40 : 0);
    code += static_cast<char>('0' + day / 10);
    code += static_cast<char>('0' + day % 10);
    code += static_cast<char>('A' + (h >> 24) % 13);
    code += digitsOf(h >> 28, 3);
    return code + fiscalCodeCheckCharacter(code);
}

std::string makeIban(std::uint64_t h) {
    const std::string bban = digitsOf(h, 5) + digitsOf(h >> 20, 5) + digitsOf(h >> 36, 6) + digitsOf(h * 31 + 7, 6);
    const std::string national = std::string(1, cinOf(bban)) + bban;
    return "IT" + ibanCheckDigits("IT", national) + national;
}

std::string makeAbiOrCab(std::uint64_t h) { return std::to_string(10000 + h % 90000); }

bool isMobile(std::string_view phone) {
    for (char c : phone)
        if (c >= '0' && c <= '9') return c == '3';
    return false;
}

}  // namespace

// SipHash-2-4 keyed with the first 16 bytes of the build's key: a pseudorandom function, so that the
// pseudonyms give nothing away about the key or the originals, and fast enough for millions of values.
std::uint64_t sipHash(const Pseudonyms::Key& key, std::string_view message) {
    auto load = [](const unsigned char* p) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
        return v;
    };
    auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    const std::uint64_t k0 = load(key.data()), k1 = load(key.data() + 8);
    std::uint64_t v0 = 0x736f6d6570736575ull ^ k0, v1 = 0x646f72616e646f6dull ^ k1;
    std::uint64_t v2 = 0x6c7967656e657261ull ^ k0, v3 = 0x7465646279746573ull ^ k1;
    auto round = [&] {
        v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
        v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
        v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
        v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
    };
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    const std::size_t n = message.size();
    std::size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        const std::uint64_t m = load(bytes + at);
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
    std::uint64_t last = static_cast<std::uint64_t>(n & 0xFF) << 56;
    for (std::size_t i = 0; at + i < n; ++i) last |= static_cast<std::uint64_t>(bytes[at + i]) << (8 * i);
    v3 ^= last;
    round();
    round();
    v0 ^= last;
    v2 ^= 0xFF;
    for (int i = 0; i < 4; ++i) round();
    return v0 ^ v1 ^ v2 ^ v3;
}

char fiscalCodeCheckCharacter(std::string_view first15) { return oddEvenCheck(first15); }

char cinOf(std::string_view abiCabAccount) { return oddEvenCheck(abiCabAccount); }

std::string ibanCheckDigits(std::string_view country, std::string_view bban) {
    std::string digits;
    for (char c : std::string(bban) + std::string(country) + "00")
        digits += c >= '0' && c <= '9' ? std::string(1, c) : std::to_string(c - 'A' + 10);
    int rest = 0;
    for (char c : digits) rest = (rest * 10 + (c - '0')) % 97;
    const int check = 98 - rest;
    return std::string(1, static_cast<char>('0' + check / 10)) + static_cast<char>('0' + check % 10);
}

Pseudonyms::Pseudonyms(const Key& key) : key_(key) {
    for (const char* name : kFirstNames) firstNames_.insert(text::toLower(name));
}

Pseudonyms::Key Pseudonyms::randomKey() {
    Key key{};
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) throw std::runtime_error("no random key");
    return key;
}

void Pseudonyms::addOriginal(Kind kind, std::string_view value) {
    const std::string f = folded(value);
    if (f.empty()) return;
    switch (kind) {
    case Kind::Name:
    case Kind::FirstName:
    case Kind::Surname: {
        const std::string_view written = trimmed(value);
        const bool capitalisedOnly = kind == Kind::Name && mixedCase(written);
        for (const Token& t : wordsOf(written)) {
            if (capitalisedOnly && startsSmall(written.substr(t.begin, t.end - t.begin))) continue;
            const std::string w = text::toLower(written.substr(t.begin, t.end - t.begin));
            if (!hasLetter(w) || genericWords().count(w)) continue;
            excludedWords_.insert(w);
            if (kind == Kind::FirstName) firstNames_.insert(w);
        }
        return;
    }
    case Kind::City:
    case Kind::BirthPlace:
        excludedCities_.insert(f);
        break;
    default:
        excludedOther_.insert(f);
        break;
    }
    // Values free text may carry whole; short ones (a province, a CIN) would be found inside other words.
    static constexpr Kind kFoundInText[] = {Kind::City,  Kind::BirthPlace, Kind::Address,    Kind::Phone,
                                            Kind::Email, Kind::Website,    Kind::FiscalCode, Kind::VatNumber,
                                            Kind::Iban};
    if (text::lengthInChars(f) >= 3 && std::find(std::begin(kFoundInText), std::end(kFoundInText), kind) != std::end(kFoundInText)) {
        const std::size_t words = wordsOf(f).size();
        if (words == 0) return;
        phrases_.emplace(f, kind);
        longestPhrase_ = std::max(longestPhrase_, words);
    }
}

std::uint64_t Pseudonyms::draw(std::string_view domain, std::string_view value, int attempt) const {
    std::string message(domain);
    message += '\0';
    message += value;
    message += '\0';
    message += static_cast<char>(attempt & 0xFF);
    message += static_cast<char>(attempt >> 8);
    return sipHash(key_, message);
}

std::string Pseudonyms::pick(Pool pool, std::string_view domain, std::string_view original,
                             std::string (*make)(std::uint64_t), std::size_t softLimit) {
    const std::unordered_set<std::string>& excluded =
        pool == Pool::Cities ? excludedCities_ : pool == Pool::Other ? excludedOther_ : excludedWords_;
    // A candidate that is an original of this build, or holds a word of an original name (an e-mail
    // address, a street, a bank named after someone), is drawn again; a pool all of whose members are
    // originals (a small pool, a large company) gives up after many tries rather than loop.
    auto acceptable = [&](const std::string& candidate) {
        const std::string f = text::toLower(candidate);
        if (excluded.count(f) || f == original) return false;
        for (const Token& t : wordsOf(f)) {
            const std::string w = f.substr(t.begin, t.end - t.begin);
            if (excludedWords_.count(w) && !genericWords().count(w)) return false;
        }
        return true;
    };
    std::string candidate;
    for (int attempt = 0; attempt < 300; ++attempt) {
        candidate = make(draw(domain, original, attempt));
        const bool fits = softLimit == 0 || attempt >= 150 || text::lengthInChars(candidate) <= softLimit;
        if (fits && acceptable(candidate)) return candidate;
    }
    return candidate;
}

std::string Pseudonyms::word(std::string_view original) {
    const std::string f = text::toLower(original);
    auto found = words_.find(f);
    if (found == words_.end()) {
        const bool first = firstNames_.count(f) > 0;
        found = words_.emplace(f, pick(first ? Pool::FirstNames : Pool::Surnames, first ? "first" : "surname", f,
                                       first ? makeFirstName : makeSurname, text::lengthInChars(f)))
                    .first;
    }
    return inCaseOf(original, found->second);
}

std::string Pseudonyms::rewrite(std::string_view text, Words words) {
    const std::vector<Token> tokens = wordsOf(text);
    const bool mixed = mixedCase(text);
    std::string out;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < tokens.size();) {
        std::size_t taken = 0;
        std::string replacement;
        // The longest known value starting at this word: "Reggio nell'Emilia" before "Reggio".
        for (std::size_t n = std::min(longestPhrase_, tokens.size() - i); n >= 1 && taken == 0; --n) {
            const std::string key = text::toLower(text.substr(tokens[i].begin, tokens[i + n - 1].end - tokens[i].begin));
            const auto found = phrases_.find(key);
            if (found == phrases_.end()) continue;
            replacement = this->text(found->second, text.substr(tokens[i].begin, tokens[i + n - 1].end - tokens[i].begin));
            taken = n;
        }
        if (taken == 0) {
            const std::string_view w = text.substr(tokens[i].begin, tokens[i].end - tokens[i].begin);
            const std::string f = text::toLower(w);
            // In free text written in mixed case, a name's word in small letters is an ordinary word
            // ("una maglietta rosa" beside "Rosa").
            const bool chosen = words == Words::Every || (words == Words::Capitalised && !startsSmall(w)) ||
                                (excludedWords_.count(f) > 0 && !(mixed && startsSmall(w)));
            if (hasLetter(f) && !genericWords().count(f) && chosen) {
                replacement = word(w);
                taken = 1;
            }
        }
        if (taken == 0) {
            ++i;
            continue;
        }
        out.append(text.substr(copied, tokens[i].begin - copied));
        out += replacement;
        copied = tokens[i + taken - 1].end;
        i += taken;
    }
    out.append(text.substr(copied));
    return out;
}

std::string Pseudonyms::generate(Kind kind, std::string_view original, const std::string& f) {
    switch (kind) {
    case Kind::Name:
        return rewrite(original, mixedCase(trimmed(original)) ? Words::Capitalised : Words::Every);
    case Kind::FirstName:
    case Kind::Surname:
        return rewrite(original, Words::Every);
    case Kind::Text:
        return rewrite(original, Words::KnownNames);
    case Kind::Address:
        return pick(Pool::Other, "address", f, makeAddress, text::lengthInChars(f));
    case Kind::Postcode:
        return pick(Pool::Other, "postcode", f, makePostcode);
    case Kind::City:
    case Kind::BirthPlace:
        return inCaseOf(original, pick(Pool::Cities, "city", f, makeCity, text::lengthInChars(f)));
    case Kind::Province:
        return pick(Pool::Other, "province", f, makeProvince);
    case Kind::Phone: {
        const bool mobile = isMobile(f);
        const std::uint64_t h = draw("phone", f, 0);
        std::string phone = mobile ? "3" + digitsOf(h, 2) + " " + digitsOf(h >> 10, 7)
                                   : "0" + digitsOf(h, 1 + h % 3) + " " + digitsOf(h >> 12, 7);
        if (f.rfind("+39", 0) == 0) phone = "+39 " + phone;
        return phone;
    }
    case Kind::Email:
        return pick(Pool::Other, "email", f, makeEmail);
    case Kind::Website:
        return pick(Pool::Other, "website", f, makeWebsite);
    case Kind::FiscalCode: {
        // An organisation's fiscal code is a number of 11 digits, like a VAT number.
        const bool number = f.size() == 11 && std::all_of(f.begin(), f.end(), [](char c) { return c >= '0' && c <= '9'; });
        return text::toUpper(pick(Pool::Other, "fiscal", f, number ? makeVatNumber : makeFiscalCode));
    }
    case Kind::VatNumber: {
        const std::string vat = pick(Pool::Other, "vat", f, makeVatNumber);
        return f.rfind("it", 0) == 0 ? "IT" + vat : vat;
    }
    case Kind::Iban: {
        std::string iban = pick(Pool::Other, "iban", f, makeIban);
        if (f.find(' ') != std::string::npos)
            for (std::size_t at = 4; at < iban.size(); at += 5) iban.insert(at, " ");
        return iban;
    }
    case Kind::Abi:
    case Kind::Cab:
        return pick(Pool::Other, kind == Kind::Abi ? "abi" : "cab", f, makeAbiOrCab);
    case Kind::Account: {
        // As long as the original, digits for digits and capitals for letters.
        std::string account(trimmed(original));
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::uint64_t h = draw("account", f, attempt);
            for (std::size_t i = 0; i < account.size(); ++i, h = h * 6364136223846793005ull + 1442695040888963407ull) {
                const unsigned char c = static_cast<unsigned char>(account[i]);
                if (c >= '0' && c <= '9') account[i] = static_cast<char>('0' + (h >> 33) % 10);
                else if (std::isalpha(c)) account[i] = static_cast<char>('A' + (h >> 33) % 26);
            }
            if (text::toLower(account) != f && !excludedOther_.count(text::toLower(account))) break;
        }
        return account;
    }
    case Kind::Bank:
        // Named after a town that is nobody's town in this company.
        return std::string(one(kBankKinds, draw("bank", f, 0))) + " " + pick(Pool::Cities, "bankcity", f, makeCity, 12);
    case Kind::Notes:
        return "Annotazione rimossa nella copia anonimizzata";
    case Kind::BirthDate:
        break;
    }
    throw std::logic_error("no text pseudonym for this kind");
}

std::string Pseudonyms::text(Kind kind, std::string_view original, std::size_t maxChars) {
    const std::string f = folded(original);
    if (f.empty()) return std::string(original);
    // Names and free text keep the original's case around the replaced words, so they are kept by their
    // exact spelling (their words are consistent through the word cache); the rest by folded value.
    const bool keepsCase = kind == Kind::Text || kind == Kind::Name || kind == Kind::FirstName || kind == Kind::Surname;
    auto& cache = cache_[static_cast<int>(kind)];
    const std::string key = keepsCase ? std::string(original) : f;
    auto found = cache.find(key);
    if (found == cache.end()) found = cache.emplace(key, generate(kind, original, f)).first;
    return cut(found->second, maxChars);
}

double Pseudonyms::number(Kind kind, double original) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", original);
    return std::stod(this->text(kind, text));
}

DateTime Pseudonyms::date(const DateTime& original) {
    const std::uint64_t h = draw("date", std::to_string(original.millis), 0);
    const std::int64_t days = static_cast<std::int64_t>(1 + h % 365) * ((h >> 32) % 2 ? 1 : -1);
    return DateTime{original.millis + days * 86'400'000};
}

}  // namespace vopa::anonymise
