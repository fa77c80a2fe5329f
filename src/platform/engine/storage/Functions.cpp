#include "Functions.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>

#include "Collation.h"
#include "Sqlite.h"
#include "platform/engine/Checked.h"
#include "platform/engine/EngineError.h"
#include "platform/text/Text.h"

namespace vopa::engine::storage {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;

enum DatePart { Year, Quarter, Month, DayOfYear, Day, Week, Weekday, Hour, Minute, Second, Millisecond };

int collateNoCase(void*, int n1, const void* p1, int n2, const void* p2) {
    return collate(std::string_view(static_cast<const char*>(p1), static_cast<std::size_t>(n1)),
                   std::string_view(static_cast<const char*>(p2), static_cast<std::size_t>(n2)));
}

void raise(sqlite3_context* ctx, const EngineError& e) {
    setPendingError(e.number(), e.what(), e.severity(), e.state());
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
        raise(ctx, EngineError(err::InternalError, "Internal error: unknown conversion."));
        return;
    }
    const FunctionContext::Conversion& conv = fc->conversions[index];
    try {
        Cell in = cellOf(argv[0]);
        if (in.isNull()) {
            if (conv.notNull)
                throw EngineError(err::NotNullViolation,
                                  "Cannot insert the value NULL into column '" + conv.columnName + "', table '" +
                                      conv.tableName + "'; column does not allow nulls. " +
                                      (conv.forUpdate ? "UPDATE" : "INSERT") + " fails.",
                                  16, 2);
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
    if (slot.exhausted || !slot.range.contains(slot.next)) {
        raise(ctx, EngineError(err::ArithmeticOverflow, std::string("Arithmetic overflow error converting IDENTITY to data type ") +
                                                           slot.range.typeName + "."));
        return;
    }
    slot.last = slot.next;
    slot.used = true;
    std::optional<std::int64_t> next = checked::add64(slot.next, slot.increment);
    slot.exhausted = !next;
    slot.next = next.value_or(0);
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

void xorFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_null(ctx);
    sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]) ^ sqlite3_value_int64(argv[1]));
}

void getdateFunction(sqlite3_context* ctx, int, sqlite3_value**) { sqlite3_result_int64(ctx, contextOf(ctx)->now); }

constexpr const char* kEnglishMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kEnglishDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
constexpr const char* kItalianMonths[] = {"gennaio", "febbraio", "marzo",     "aprile",  "maggio",   "giugno",
                                          "luglio",  "agosto",   "settembre", "ottobre", "novembre", "dicembre"};
constexpr const char* kItalianDays[] = {"luned\xC3\xAC",   "marted\xC3\xAC", "mercoled\xC3\xAC", "gioved\xC3\xAC",
                                        "venerd\xC3\xAC",  "sabato",         "domenica"};

constexpr Language kLanguages[] = {
    {0, "us_english", "English", DateOrder::MDY, 7},
    {1, "British", "British English", DateOrder::DMY, 1},
    {2, "Italiano", "Italian", DateOrder::DMY, 1},
};

// Day of the week, Monday = 1 ... Sunday = 7.
std::int64_t isoWeekday(std::int64_t ms) {
    // 1899-12-30, day 0, was a Saturday.
    std::int64_t days = DateTime{ms}.dateOnly().millis / kMillisPerDay;
    return (((days % 7) + 7) % 7 + 5) % 7 + 1;
}

std::int64_t partOf(int part, std::int64_t ms, std::int64_t dateFirst = 7) {
    DateTime d{ms};
    switch (part) {
        case Year: return d.year();
        case Quarter: return (d.month() - 1) / 3 + 1;
        case Month: return d.month();
        case Day: return d.day();
        case DayOfYear: return (d.dateOnly().millis - DateTime::fromParts(d.year(), 1, 1).millis) / kMillisPerDay + 1;
        case Weekday: return (isoWeekday(ms) - dateFirst + 7) % 7 + 1;  // counted from SET DATEFIRST's day
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

// vopa_datepart(part, date[, first day of the week])
void datepartFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const std::int64_t dateFirst = argc > 2 ? sqlite3_value_int64(argv[2]) : 7;
    sqlite3_result_int64(ctx, partOf(sqlite3_value_int(argv[0]), sqlite3_value_int64(argv[1]), dateFirst));
}

// vopa_datename(part, date, language code, first day of the week): month and weekday names in the
// language, the other parts as numbers.
void datenameFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const int part = sqlite3_value_int(argv[0]);
    const std::int64_t ms = sqlite3_value_int64(argv[1]);
    const bool italian = sqlite3_value_int(argv[2]) == 2;
    if (part == Month) {
        const int month = DateTime{ms}.month();
        return resultCell(ctx, Cell::text((italian ? kItalianMonths : kEnglishMonths)[month - 1]));
    }
    if (part == Weekday) return resultCell(ctx, Cell::text((italian ? kItalianDays : kEnglishDays)[isoWeekday(ms) - 1]));
    resultCell(ctx, Cell::text(std::to_string(partOf(part, ms, sqlite3_value_int64(argv[3])))));
}

[[noreturn]] void dateaddOverflow() {
    throw EngineError(err::DateAddOverflow, "Adding a value to a 'datetime' column caused an overflow.");
}

std::int64_t addMonths(std::int64_t ms, std::int64_t months) {
    DateTime d{ms};
    std::optional<std::int64_t> total = checked::add64(d.year() * 12LL + (d.month() - 1), months);
    // Beyond year 9999 (or before year 1) no date type holds the result.
    if (!total || *total < 12 || *total >= 10000 * 12LL) dateaddOverflow();
    int y = static_cast<int>(*total / 12), m = static_cast<int>(*total % 12) + 1;
    int day = d.day();
    while (day > 28 && !DateTime::isValidDate(y, m, day)) --day;
    return DateTime::fromParts(y, m, day).millis + (ms - d.dateOnly().millis);
}

// vopa_dateadd(part, n, date, type): DATEADD within the range of the date's type, else 517.
void dateaddFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    int part = sqlite3_value_int(argv[0]);
    std::int64_t n = sqlite3_value_int64(argv[1]);
    std::int64_t ms = sqlite3_value_int64(argv[2]);
    const auto type = argc > 3 ? static_cast<BaseType>(sqlite3_value_int(argv[3])) : BaseType::DateTime;
    try {
        auto plus = [&](std::int64_t unit) {
            std::optional<std::int64_t> delta = checked::multiply64(n, unit);
            std::optional<std::int64_t> sum = delta ? checked::add64(ms, *delta) : std::nullopt;
            if (!sum) dateaddOverflow();
            return *sum;
        };
        auto months = [&](std::int64_t factor) {
            std::optional<std::int64_t> m = checked::multiply64(n, factor);
            if (!m) dateaddOverflow();
            return addMonths(ms, *m);
        };
        switch (part) {
            case Year: ms = months(12); break;
            case Quarter: ms = months(3); break;
            case Month: ms = months(1); break;
            case Week: ms = plus(7 * kMillisPerDay); break;
            case Hour: ms = plus(3'600'000); break;
            case Minute: ms = plus(60'000); break;
            case Second: ms = plus(1000); break;
            case Millisecond: ms = plus(1); break;
            default: ms = plus(kMillisPerDay); break;
        }
        if (!dateInRange(ms, type)) dateaddOverflow();
        ms = roundDate(ms, type);
        if (!dateInRange(ms, type)) dateaddOverflow();
        sqlite3_result_int64(ctx, ms);
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

// vopa_datediff(part, start, end): the number of boundaries crossed, which must fit an int (else 535).
void datediffFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL || sqlite3_value_type(argv[2]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    int part = sqlite3_value_int(argv[0]);
    // Stored dates lie between years 1 and 9999: every difference below fits 64 bits.
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
    if (r < -2147483647 - 1 || r > 2147483647) {
        raise(ctx, EngineError(err::DateDiffOverflow,
                               "The datediff function resulted in an overflow. The number of dateparts separating "
                               "two date/time instances is too large. Try to use datediff with a less precise "
                               "datepart."));
        return;
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

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return true;
    return false;
}

// Integer and scaled-integer arithmetic with the result type's range: vopa_add(a, b, range code) and the
// like; the last argument is checked::rangeCode of the result type. NULL in, NULL out.
template <std::int64_t (*Op)(std::int64_t, std::int64_t, const checked::NumericRange&)>
void checkedBinary(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    try {
        sqlite3_result_int64(ctx, Op(sqlite3_value_int64(argv[0]), sqlite3_value_int64(argv[1]),
                                     checked::rangeOfCode(sqlite3_value_int64(argv[2]))));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

template <std::int64_t (*Op)(std::int64_t, const checked::NumericRange&)>
void checkedUnary(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    try {
        sqlite3_result_int64(ctx, Op(sqlite3_value_int64(argv[0]), checked::rangeOfCode(sqlite3_value_int64(argv[1]))));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

// vopa_mul_scaled(a, scale a, b, scale b, result scale, range code) and vopa_div_scaled(...): products and
// quotients of money and decimals, exact in 128 bits and rounded to the result's scale.
template <std::int64_t (*Op)(std::int64_t, int, std::int64_t, int, int, const checked::NumericRange&)>
void checkedScaled(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) return sqlite3_result_null(ctx);
    try {
        sqlite3_result_int64(ctx, Op(sqlite3_value_int64(argv[0]), sqlite3_value_int(argv[1]), sqlite3_value_int64(argv[2]),
                                     sqlite3_value_int(argv[3]), sqlite3_value_int(argv[4]),
                                     checked::rangeOfCode(sqlite3_value_int64(argv[5]))));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

// vopa_round_scaled(x, scale, digits[, truncate, range code]): ROUND of a scaled integer to `digits`
// decimals, same scale; with `truncate` non-zero the digits are cut (ROUND's third argument).
void roundScaledFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const bool truncate = argc > 3 && sqlite3_value_int64(argv[3]) != 0;
    const checked::NumericRange range = argc > 4 ? checked::rangeOfCode(sqlite3_value_int64(argv[4])) : checked::NumericRange{};
    try {
        sqlite3_result_int64(ctx, checked::roundScaled(sqlite3_value_int64(argv[0]), sqlite3_value_int(argv[1]),
                                                       sqlite3_value_int64(argv[2]), truncate, range));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
}

// SUM and AVG of exact numbers, summed in 128 bits and checked at the result type's range, as the
// server does (SUM of int is int: it overflows at 2^31). One function per result type, so that
// DISTINCT (which SQLite allows only with one argument) works: vopa_sum_<type>(x), vopa_avg_<type>(x).
// SQLite aligns aggregate state to 8 bytes only: the 128-bit sum is kept as bytes.
struct SumState {
    unsigned char sumBytes[sizeof(Int128)];
    std::int64_t count;
    bool overflowed;

    Int128 sum() const {
        Int128 v;
        std::memcpy(&v, sumBytes, sizeof v);
        return v;
    }
    void setSum(Int128 v) { std::memcpy(sumBytes, &v, sizeof v); }
};

void sumStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
    // Zero-filled on the first call.
    auto* state = static_cast<SumState*>(sqlite3_aggregate_context(ctx, sizeof(SumState)));
    if (!state) return sqlite3_result_error_nomem(ctx);
    Int128 sum = 0;
    if (__builtin_add_overflow(state->sum(), static_cast<Int128>(sqlite3_value_int64(argv[0])), &sum))
        state->overflowed = true;
    state->setSum(sum);
    ++state->count;
}

template <BaseType Result, bool Average, int ExtraScale = 0>
void sumFinal(sqlite3_context* ctx) {
    auto* state = static_cast<SumState*>(sqlite3_aggregate_context(ctx, 0));
    if (!state || state->count == 0) return sqlite3_result_null(ctx);
    const SqlType type = Result == BaseType::Decimal ? SqlType::decimal(38, 0) : SqlType::of(Result);
    const checked::NumericRange range = checked::rangeOf(type);
    try {
        if (state->overflowed) checked::overflow(range.typeName);
        const Int128 total = state->sum();
        std::int64_t sum = checked::within(total, range);
        if (!Average) return sqlite3_result_int64(ctx, sum);
        // Integers truncate; money and decimals round to their scale.
        if (type.isInteger()) return sqlite3_result_int64(ctx, sum / state->count);
        // An average of a decimal has at least six decimals: the sum is scaled up first (exact in 128 bits).
        Int128 scaled = total;
        for (int i = 0; i < ExtraScale; ++i) scaled *= 10;
        Int128 q = scaled / state->count, r = scaled % state->count;
        sqlite3_result_int64(ctx, checked::within(checked::roundQuotient(q, r, state->count, scaled < 0), range));
    } catch (const EngineError& e) {
        raise(ctx, e);
    }
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

namespace {

bool likeMatchCodePoints(const std::vector<char32_t>& s, const std::vector<char32_t>& p, char32_t escape) {
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
                    hit = hit || (collateChars(p[j], c) <= 0 && collateChars(c, p[j + 2]) <= 0);
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
    return pi == p.size();
}

}  // namespace

bool likeMatch(const std::string& value, const std::string& pattern, char32_t escape) {
    std::vector<char32_t> s, p;
    for (std::size_t i = 0; i < value.size();) s.push_back(text::foldCase(text::nextCodePoint(value, i)));
    for (std::size_t i = 0; i < pattern.size();) p.push_back(text::nextCodePoint(pattern, i));
    // The value's trailing blanks do not matter (a char column's padding), the pattern's do: the value
    // matches with or without its trailing blanks, and a pattern's blanks need blanks in the value.
    if (likeMatchCodePoints(s, p, escape)) return true;
    if (s.empty() || s.back() != U' ') return false;
    while (!s.empty() && s.back() == U' ') s.pop_back();
    return likeMatchCodePoints(s, p, escape);
}

const Language* findLanguage(std::string_view name) {
    for (const Language& l : kLanguages)
        if (text::equalsNoCase(name, l.name) || text::equalsNoCase(name, l.alias)) return &l;
    return nullptr;
}

const Language& defaultLanguage() { return kLanguages[0]; }

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
        {"vopa_xor", 2, xorFunction, true},
        {"vopa_like", 3, likeFunction, true},
        {"vopa_getdate", 0, getdateFunction, false},
        {"vopa_datepart", 2, datepartFunction, true},
        {"vopa_datepart", 3, datepartFunction, true},
        {"vopa_datename", 4, datenameFunction, true},
        {"vopa_dateadd", 3, dateaddFunction, true},
        {"vopa_dateadd", 4, dateaddFunction, true},
        {"vopa_datediff", 3, datediffFunction, true},
        {"vopa_upper", 1, upperFunction, true},
        {"vopa_lower", 1, lowerFunction, true},
        {"vopa_replace", 3, replaceFunction, true},
        {"vopa_charindex", 2, charindexFunction, true},
        {"vopa_charindex", 3, charindexFunction, true},
        {"vopa_right", 2, rightFunction, true},
        {"vopa_nz", 1, nonZeroFunction, true},
        {"vopa_round_scaled", 3, roundScaledFunction, true},
        {"vopa_round_scaled", 5, roundScaledFunction, true},
        {"vopa_add", 3, checkedBinary<checked::add>, true},
        {"vopa_sub", 3, checkedBinary<checked::subtract>, true},
        {"vopa_mul", 3, checkedBinary<checked::multiply>, true},
        {"vopa_div", 3, checkedBinary<checked::divide>, true},
        {"vopa_neg", 2, checkedUnary<checked::negate>, true},
        {"vopa_abs", 2, checkedUnary<checked::absolute>, true},
        {"vopa_mul_scaled", 6, checkedScaled<checked::multiplyScaled>, true},
        {"vopa_div_scaled", 6, checkedScaled<checked::divideScaled>, true},
        {"vopa_newid", 0, newidFunction, false},
    };
    for (const Fn& f : functions)
        sqlite3_create_function_v2(db, f.name, f.args, SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0),
                                   context, f.fn, nullptr, nullptr, nullptr);
    struct Aggregate {
        const char* name;
        void (*final)(sqlite3_context*);
    };
    const Aggregate aggregates[] = {
        {"vopa_sum_int", sumFinal<BaseType::Int, false>},       {"vopa_avg_int", sumFinal<BaseType::Int, true>},
        {"vopa_sum_bigint", sumFinal<BaseType::BigInt, false>}, {"vopa_avg_bigint", sumFinal<BaseType::BigInt, true>},
        {"vopa_sum_money", sumFinal<BaseType::Money, false>},   {"vopa_avg_money", sumFinal<BaseType::Money, true>},
        {"vopa_sum_numeric", sumFinal<BaseType::Decimal, false>}, {"vopa_avg_numeric", sumFinal<BaseType::Decimal, true>},
        {"vopa_avg_numeric_up1", sumFinal<BaseType::Decimal, true, 1>},
        {"vopa_avg_numeric_up2", sumFinal<BaseType::Decimal, true, 2>},
        {"vopa_avg_numeric_up3", sumFinal<BaseType::Decimal, true, 3>},
        {"vopa_avg_numeric_up4", sumFinal<BaseType::Decimal, true, 4>},
        {"vopa_avg_numeric_up5", sumFinal<BaseType::Decimal, true, 5>},
        {"vopa_avg_numeric_up6", sumFinal<BaseType::Decimal, true, 6>},
    };
    for (const Aggregate& a : aggregates)
        sqlite3_create_function_v2(db, a.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, context, nullptr, sumStep, a.final,
                                   nullptr);
}

}  // namespace vopa::engine::storage
