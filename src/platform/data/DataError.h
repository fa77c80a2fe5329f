#pragma once
// An error of the data layer: a number and the provider's description, as the program shows them.
// Server errors carry the server's message number (2714, 515, ...); the layer's own errors carry the
// numbers of the access library the program was written for (3021 no current record, 3265 no such
// field, 3704 object closed, 3251 not updatable, ...).

#include <stdexcept>
#include <string>

namespace vopa::data {

class DataError : public std::runtime_error {
public:
    DataError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
    int number() const { return number_; }
    const char* description() const { return what(); }

private:
    int number_;
};

namespace errors {
inline constexpr int NoCurrentRecord = 3021;   // Either BOF or EOF is True, or the current record has been deleted.
inline constexpr int ItemNotFound = 3265;      // Item cannot be found in the collection ...
inline constexpr int ObjectClosed = 3704;      // Operation is not allowed when the object is closed.
inline constexpr int ObjectOpen = 3705;        // Operation is not allowed when the object is open.
inline constexpr int NotUpdatable = 3251;      // Current Recordset does not support updating.
inline constexpr int NoProvider = 3706;        // Provider cannot be found. It may not be properly installed.
inline constexpr int DataSourceNotFound = -2147467259;  // 0x80004005, unspecified provider error (ODBC IM002)
}  // namespace errors

}  // namespace vopa::data
