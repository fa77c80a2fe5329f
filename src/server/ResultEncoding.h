#pragma once
// The engine's answers as TDS tokens: the wire type of each engine type, and the statements of one
// batch as pieces (their tokens and the DONE that ends each), which the dispatcher chains with the
// "more results" flag set on all but the last.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/Session.h"
#include "server/tds/Tokens.h"

namespace vopa::server {

// The nullable wire type the server uses for a result column of the engine's type, for a session of
// this TDS version.
tds::TypeInfo wireType(const engine::SqlType& type, std::uint32_t tdsVersion);

// The line of the batch an offset lies on, counted from 1.
int lineAt(std::string_view text, std::size_t offset);

// One statement's tokens and the status, command and row count of the DONE that closes it.
struct StatementPiece {
    tds::Bytes tokens;
    std::uint16_t status = 0;  // done::kCount, done::kError
    std::uint16_t curCmd = 0;
    std::uint64_t rowCount = 0;
};

// What of an executed text the client sees. The dispatcher may put statements of its own in front of
// the client's text (parameters) and after it (output parameters): those are not shown unless they fail,
// and lines are counted from the start of the client's text.
struct ShownText {
    std::string_view text;        // the whole text executed
    std::size_t clientStart = 0;  // where the client's text starts in it
    std::size_t clientEnd = std::string_view::npos;  // where it ends
};

class ResultEncoder {
public:
    ResultEncoder(std::uint32_t tdsVersion, std::string serverName)
        : tdsVersion_(tdsVersion), serverName_(std::move(serverName)) {}

    // The pieces of the statements that show something; messages of statements that show nothing else
    // travel with the next piece. Tokens left over (messages after the last piece) go to `trailing`.
    // The result set of a statement after the client's text is returned in `hiddenResult`.
    std::vector<StatementPiece> encode(const std::vector<engine::StatementOutcome>& outcomes, const ShownText& shown,
                                       tds::Bytes& trailing, std::optional<engine::ResultSet>* hiddenResult = nullptr) const;

    // An error or informational message with this server's name, at a line of the client's text.
    tds::ServerMessage message(const engine::EngineError& error, int line) const;
    tds::ServerMessage info(int number, std::string text) const;

private:
    // A result set's COLMETADATA and rows; throws tds::ProtocolError for a value its column cannot hold.
    void writeResultSet(tds::TokenWriter& w, const engine::ResultSet& rs) const;

    std::uint32_t tdsVersion_;
    std::string serverName_;
};

}  // namespace vopa::server
