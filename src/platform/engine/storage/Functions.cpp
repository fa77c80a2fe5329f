#include "Functions.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "Sqlite.h"
#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine::storage {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;

enum DatePart { Year, Quarter, Month, DayOfYear, Day, Week, Weekday, Hour, Minute, Second, Millisecond };

int collateNoCase(void*, int n1, const void* p1, int n2, const void* p2) {
    auto a = std::string_view(static_cast<const char*>(p1), static_cast<std::size_t>(n1));
    auto b = std::string_view(static_cast<const char*>(p2), static_cast<std::size_t>(n2));
    while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
    while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
    std::size_t i = 0;
    const std::size_t n = std::min(a.size(), b.size());
    for (; i < n; ++i) {
        auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ca >= 0x80 || cb >= 0x80) break;
        if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
        if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i == n && i == a.size() && i == b.size()) return 0;
    if (i == n && (i == a.size() || i == b.size())) return a.size() < b.size() ? -1 : 1;
    return text::compareNoCase(a.substr(i), b.substr(i));
}

void raise(sqlite3_context* ctx, const EngineError& e) {
    setPendingError(e.number(), e.what());
    sqlite3_result_error(ctx, e.what(), -1);
}

void resultCell(sqlite3_context* ctx, const Cell& c) {
    switch (c.kind) {
        case Cell::Kind::Null: sqlite3_result_null(ctx); break;
        case Cell::Kind::Integer: sqlite3_result_int64(ctx, c.i); break;
        case Cell::Kind::Real: sqlite3_result_double(ctx, c.r); break;
        case Cell::Kind::Text:
            sqlite3_result_text64(ctx, c.s.data(), c.s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        case Cell::Kind::Blob: sqlite3_result_blob64(ctx, c.s.data(), c.s.size(), SQLITE_TRANSIENT); break;
    }
}

FunctionContext* contextOf(sqlite3_context* ctx) { return static_cast<FunctionContext*>(sqlite3_user_data(ctx)); }

std::string textOf(sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_value_bytes(v)))
             : std::string();
}

// vopa_conv(value, conversion number)
void convFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    FunctionContext* fc = contextOf(ctx);
    const auto index = static_cast<std::size_t>(sqlite3_value_int64(argv[1]));
    if (index >= fc->conversions.size()) {
        raise(ctx, EngineError(50000, "Internal error: unknown conversion."));
        return;
    }
    const FunctionContext::Conversion& conv = fc->conversions[index];
    try {
        Cell in = cellOf(argv[0]);
        if (in.isNull()) {
            if (conv.notNull)
                throw EngineError(err::NotNullViolation, "Cannot insert the value NULL into column '" + conv.columnName +
                                                             "', table '" + conv.tableName +
                                                             "'; column does not allow nulls. " +
                                                             (conv.forUpdate ? "UPDATE" : "INSERT") + " fails.");
            sqlite3_result_null(ctx);
            return;
        }
        resultCell(ctx, convertCell(in, conv.from, conv.to, conv.mode, conv.style));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

// vopa_identity(slot): the next identity value of the statement's target table.
void identityFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    FunctionContext* fc = contextOf(ctx);
    auto& slot = fc->identities.at(static_cast<std::size_t>(sqlite3_value_int64(argv[0])));
    slot.last = slot.next;
    slot.used = true;
    slot.next += slot.increment;
    sqlite3_result_int64(ctx, slot.last);
}

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    char32_t escape = 0;
    if (argc == 3 && sqlite3_value_type(argv[2]) != SQLITE_NULL) {
        std::string e = textOf(argv[2]);
        std::size_t pos = 0;
        if (!e.empty()) escape = text::nextCodePoint(e, pos);
    }
    sqlite3_result_int(ctx, likeMatch(textOf(argv[0]), textOf(argv[1]), escape) ? 1 : 0);
}

void getdateFunction(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_int64(ctx, contextOf(ctx)->now); }

std::int64_t partOf(int part, std::int64_t ms) {
    DateTime d{ms};
    switch (part) {
        case Year: return d.year();
        case Quarter: return (d.month() - 1) / 3 + 1;
        case Month: return d.month();
        case Day: return d.day();
        case DayOfYear: return (d.dateOnly().millis - DateTime::fromParts(d.year(), 1, 1).millis) / kMillisPerDay + 1;
        case Weekday: {
            // 1899-12-30 was a Saturday; with the server's default first day (Sunday) Saturday is 7.
            std::int64_t days = d.dateOnly().millis / kMillisPerDay;
            std::int64_t w = ((days % 7) + 7) % 7;  // 0 = Saturday
            return w == 0 ? 7 : w;
        }
        case Week: {
            std::int64_t jan1 = DateTime::fromParts(d.year(), 1, 1).millis / kMillisPerDay;
            std::int64_t w = ((jan1 % 7) + 7) % 7;
            std::int64_t jan1Weekday = w == 0 ? 7 : w;
            std::int64_t doy = d.dateOnly().millis / kMillisPerDay - jan1;
            return (doy + jan1Weekday - 1) / 7 + 1;
        }
        case Hour: return d.hour();
        case Minute: return d.minute();
        case Second: return d.second();
        case Millisecond: return d.millisecond();
    }
    return 0;
}

void datepartFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int64(ctx, partOf(sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1])));
}

std::int64_t addMonths(std::int64_t ms, std::int64_t months) {
    DateTime d{ms};
    std::int64_t total = d.year() * 12LL + (d.month() - 1) + months;
    int y = static_cast<int>(total / 12), m = static_cast<int>(total % 12) + 1;
    int day = d.day();
    while (day > 28 && !DateTime::isValidDate(y, m, day)) --day;
    return DateTime::fromParts(y, m, day).millis + (ms - d.dateOnly().millis);
}

void dateaddFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    int part = sqlite3_value_int(argv[0]);
    std::int64_t n = sqlite3_value_int64(argv[1]);
    std::int64_t ms = sqlite3_value_int64(argv[2]);
    switch (part) {
        case Year: ms = addMonths(ms, n * 12); break;
        case Quarter: ms = addMonths(ms, n * 3); break;
        case Month: ms = addMonths(ms, n); break;
        case Week: ms += n * 7 * kMillisPerDay; break;
        case Hour: ms += n * 3'600'000; break;
        case Minute: ms += n * 60'000; break;
        case Second: ms += n * 1000; break;
        case Millisecond: ms += n; break;
        default: ms += n * kMillisPerDay; break;
    }
    sqlite3_result_int64(ctx, ms);
}

void datediffFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    int part = sqlite3_value_int(argv[0]);
    std::int64_t a = sqlite3_value_int64(argv[1]), b = sqlite3_value_int64(argv[2]);
    DateTime da{a}, db{b};
    auto floorDiv = [](std::int64_t x, std::int64_t y) { return x / y - ((x % y != 0) && ((x < 0) != (y < 0))); };
    std::int64_t r = 0;
    switch (part) {
        case Year: r = db.year() - da.year(); break;
        case Quarter: r = (db.year() * 4 + (db.month() - 1) / 3) - (da.year() * 4 + (da.month() - 1) / 3); break;
        case Month: r = (db.year() * 12 + db.month()) - (da.year() * 12 + da.month()); break;
        case Week: r = floorDiv(b - kMillisPerDay, 7 * kMillisPerDay) - floorDiv(a - kMillisPerDay, 7 * kMillisPerDay); break;
        case Hour: r = floorDiv(b, 3'600'000) - floorDiv(a, 3'600'000); break;
        case Minute: r = floorDiv(b, 60'000) - floorDiv(a, 60'000); break;
        case Second: r = floorDiv(b, 1000) - floorDiv(a, 1000); break;
        case Millisecond: r = b - a; break;
        default: r = floorDiv(b, kMillisPerDay) - floorDiv(a, kMillisPerDay); break;
    }
    sqlite3_result_int64(ctx, r);
}

void upperFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    resultCell(ctx, Cell::text(text::toUpper(textOf(argv[0]))));
}

void lowerFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    resultCell(ctx, Cell::text(text::toLower(textOf(argv[0]))));
}

// Case-insensitive search: byte offset of `needle` in `hay` from byte `from`, npos when absent.
std::size_t findNoCase(const std::string& hay, const std::string& needle, std::size_t from) {
    if (needle.empty()) return std::string::npos;
    const std::string h = text::toUpper(hay), n = text::toUpper(needle);
    // Upper-casing keeps byte lengths for the letters it maps, so offsets carry over.
    return h.size() == hay.size() ? h.find(n, from) : hay.find(needle, from);
}

void replaceFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    for (int i = 0; i < 3; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string s = textOf(argv[0]), from = textOf(argv[1]), to = textOf(argv[2]);
    if (from.empty()) return resultCell(ctx, Cell::text(s));
    std::string out;
    std::size_t pos = 0;
    for (std::size_t hit; (hit = findNoCase(s, from, pos)) != std::string::npos; pos = hit + from.size())
        out += s.substr(pos, hit - pos) + to;
    out += s.substr(pos);
    resultCell(ctx, Cell::text(out));
}

void charindexFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::string needle = textOf(argv[0]), hay = textOf(argv[1]);
    std::int64_t start = argc == 3 ? sqlite3_value_int64(argv[2]) : 1;
    // Character positions to byte offsets.
    std::size_t byte = 0;
    for (std::int64_t c = 1; c < start && byte < hay.size(); ++c) text::nextCodePoint(hay, byte);
    std::size_t hit = findNoCase(hay, needle, byte);
    if (hit == std::string::npos) return sqlite3_result_int64(ctx, 0);
    sqlite3_result_int64(ctx, static_cast<std::int64_t>(text::lengthInChars(hay.substr(0, hit))) + 1);
}

void rightFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    std::string s = textOf(argv[0]);
    std::int64_t n = sqlite3_value_int64(argv[1]);
    std::int64_t len = static_cast<std::int64_t>(text::lengthInChars(s));
    std::size_t byte = 0;
    for (std::int64_t c = 0; c < len - n && byte < s.size(); ++c) text::nextCodePoint(s, byte);
    resultCell(ctx, Cell::text(n <= 0 ? std::string() : s.substr(byte)));
}

// vopa_nz(x): x, or error 8134 when it is zero (the divisor of a division).
void nonZeroFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    int t = sqlite3_value_type(argv[0]);
    if ((t == SQLITE_INTEGER && sqlite3_value_int64(argv[0]) == 0) ||
        (t == SQLITE_FLOAT && sqlite3_value_double(argv[0]) == 0.0)) {
        raise(ctx, EngineError(err::DivideByZero, "Divide by zero error encountered."));
        return;
    }
    sqlite3_result_value(ctx, argv[0]);
}

// vopa_round_scaled(x, scale, digits): ROUND of a scaled integer to `digits` decimals, same scale.
void roundScaledFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::int64_t v = sqlite3_value_int64(argv[0]);
    std::int64_t scale = sqlite3_value_int64(argv[1]), digits = sqlite3_value_int64(argv[2]);
    std::int64_t drop = scale - digits;
    if (drop <= 0) return sqlite3_result_int64(ctx, v);
    if (drop > 18) return sqlite3_result_int64(ctx, 0);
    std::int64_t unit = 1;
    for (std::int64_t i = 0; i < drop; ++i) unit *= 10;
    std::int64_t q = v / unit, r = v % unit;
    if ((r < 0 ? -r : r) * 2 >= unit) q += v < 0 ? -1 : 1;
    sqlite3_result_int64(ctx, q * unit);
}

void newidFunction(sqlite3_context* ctx, int, sqlite3_value**) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[40];
    std::uint64_t a = rng(), b = rng();
    std::snprintf(buf, sizeof buf, "%08X-%04X-4%03X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    resultCell(ctx, Cell::text(buf));
}

}  // namespace

Cell cellOf(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER: return Cell::integer(sqlite3_value_int64(v));
        case SQLITE_FLOAT: return Cell::real(sqlite3_value_double(v));
        case SQLITE_TEXT: return Cell::text(textOf(v));
        case SQLITE_BLOB: {
            const void* p = sqlite3_value_blob(v);
            int n = sqlite3_value_bytes(v);
            return Cell::blob(p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string());
        }
        default: return Cell::null();
    }
}

bool likeMatch(const std::string& value, const std::string& pattern, char32_t escape) {
    std::vector<char32_t> s, p;
    for (std::size_t i = 0; i < value.size();) s.push_back(text::foldCase(text::nextCodePoint(value, i)));
    for (std::size_t i = 0; i < pattern.size();) p.push_back(text::nextCodePoint(pattern, i));
    // Trailing blanks of the value do not matter, as in comparisons.
    while (!s.empty() && s.back() == U' ') s.pop_back();
    // Iterative matcher with backtracking on the last '%'.
    std::size_t si = 0, pi = 0, starP = std::string::npos, starS = 0;
    auto matchOne = [&](std::size_t& pj, char32_t c) -> bool {
        char32_t pc = p[pj];
        if (escape != 0 && pc == escape && pj + 1 < p.size()) {
            pj += 2;
            return text::foldCase(p[pj - 1]) == c;
        }
        if (pc == U'_') {
            ++pj;
            return true;
        }
        if (pc == U'[') {
            std::size_t j = pj + 1;
            bool negate = j < p.size() && p[j] == U'^';
            if (negate) ++j;
            bool hit = false;
            std::size_t start = j;
            while (j < p.size() && (p[j] != U']' || j == start)) {
                if (j + 2 < p.size() && p[j + 1] == U'-' && p[j + 2] != U']') {
                    hit = hit || (c >= text::foldCase(p[j]) && c <= text::foldCase(p[j + 2]));
                    j += 3;
                } else {
                    hit = hit || text::foldCase(p[j]) == c;
                    ++j;
                }
            }
            if (j >= p.size()) {  // no closing bracket: a literal '['
                ++pj;
                return c == U'[';
            }
            pj = j + 1;
            return hit != negate;
        }
        ++pj;
        return text::foldCase(pc) == c;
    };
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == U'%') {
            starP = ++pi;
            starS = si;
            continue;
        }
        std::size_t pj = pi;
        if (pi < p.size() && matchOne(pj, s[si])) {
            pi = pj;
            ++si;
            continue;
        }
        if (starP == std::string::npos) return false;
        pi = starP;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == U'%') ++pi;
    // Trailing blanks of the pattern match the value's dropped blanks.
    while (pi < p.size() && p[pi] == U' ') ++pi;
    return pi == p.size();
}

int datePartCode(const std::string& rawName) {
    const std::string n = text::toLower(rawName);
    if (n == "year" || n == "yy" || n == "yyyy") return Year;
    if (n == "quarter" || n == "qq" || n == "q") return Quarter;
    if (n == "month" || n == "mm" || n == "m") return Month;
    if (n == "dayofyear" || n == "dy" || n == "y") return DayOfYear;
    if (n == "day" || n == "dd" || n == "d") return Day;
    if (n == "week" || n == "wk" || n == "ww") return Week;
    if (n == "weekday" || n == "dw" || n == "w") return Weekday;
    if (n == "hour" || n == "hh") return Hour;
    if (n == "minute" || n == "mi" || n == "n") return Minute;
    if (n == "second" || n == "ss" || n == "s") return Second;
    if (n == "millisecond" || n == "ms") return Millisecond;
    return -1;
}

void registerCollation(sqlite3* db) {
    sqlite3_create_collation_v2(db, "VOPA_CI", SQLITE_UTF8, nullptr, collateNoCase, nullptr);
}

void registerFunctions(sqlite3* db, FunctionContext* context) {
    registerCollation(db);
    struct Fn {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic;
    };
    const Fn functions[] = {
        {"vopa_conv", 2, convFunction, false},
        {"vopa_identity", 1, identityFunction, false},
        {"vopa_like", 2, likeFunction, true},
        {"vopa_like", 3, likeFunction, true},
        {"vopa_getdate", 0, getdateFunction, false},
        {"vopa_datepart", 2, datepartFunction, true},
        {"vopa_dateadd", 3, dateaddFunction, true},
        {"vopa_datediff", 3, datediffFunction, true},
        {"vopa_upper", 1, upperFunction, true},
        {"vopa_lower", 1, lowerFunction, true},
        {"vopa_replace", 3, replaceFunction, true},
        {"vopa_charindex", 2, charindexFunction, true},
        {"vopa_charindex", 3, charindexFunction, true},
        {"vopa_right", 2, rightFunction, true},
        {"vopa_nz", 1, nonZeroFunction, true},
        {"vopa_round_scaled", 3, roundScaledFunction, true},
        {"vopa_newid", 0, newidFunction, false},
    };
    for (const Fn& f : functions)
        sqlite3_create_function_v2(db, f.name, f.args, SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0),
                                   context, f.fn, nullptr, nullptr, nullptr);
}

}  // namespace vopa::engine::storage
