#pragma once
// The client's requests after login: SQL batches and remote procedure calls. (Attention is a packet type
// alone: a Message of type PacketType::Attention.)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/value/Value.h"
#include "server/tds/Types.h"
#include "server/tds/Wire.h"

namespace vopa::tds {

// ALL_HEADERS, which requests carry from TDS 7.2 on. Only the transaction descriptor matters to the
// server; the other headers are checked and skipped.
struct RequestHeaders {
    std::optional<std::uint64_t> transactionDescriptor;
    std::uint32_t outstandingRequests = 1;
};

struct SqlBatch {
    RequestHeaders headers;
    std::string text;  // UTF-8
};

// Parses a SQL batch message of a session speaking `tdsVersion`.
SqlBatch decodeSqlBatch(ByteView payload, std::uint32_t tdsVersion);

// Procedures a client may call by number.
enum class ProcId : std::uint16_t {
    CursorOpen = 2,
    CursorPrepare = 3,
    CursorExecute = 4,
    CursorPrepExec = 5,
    CursorUnprepare = 6,
    CursorFetch = 7,
    CursorOption = 8,
    CursorClose = 9,
    ExecuteSql = 10,
    Prepare = 11,
    Execute = 12,
    PrepExec = 13,
    PrepExecRpc = 14,
    Unprepare = 15,
};

namespace rpc {
// Option flags of a call.
inline constexpr std::uint16_t kWithRecompile = 0x01;
inline constexpr std::uint16_t kNoMetadata = 0x02;
inline constexpr std::uint16_t kReuseMetadata = 0x04;
// Status flags of a parameter.
inline constexpr std::uint8_t kByRef = 0x01;  // an OUTPUT parameter
inline constexpr std::uint8_t kDefault = 0x02;
}  // namespace rpc

struct RpcParameter {
    std::string name;  // "@handle", or empty for a positional parameter
    std::uint8_t status = 0;
    TypeInfo type;
    Value value;
    bool isOutput() const { return (status & rpc::kByRef) != 0; }
};

struct RpcCall {
    std::string procName;                // as sent, when the call names its procedure
    std::optional<std::uint16_t> procId;  // when it gives its number instead
    std::uint16_t options = 0;
    std::vector<RpcParameter> parameters;

    // The procedure's name either way ("sp_executesql" for number 10); empty for an unknown number.
    std::string procedure() const;
};

struct RpcRequest {
    RequestHeaders headers;
    std::vector<RpcCall> calls;  // a message may hold several, run one after the other
};

RpcRequest decodeRpc(ByteView payload, std::uint32_t tdsVersion);

// Transaction manager requests (drivers use them for autocommit off, commit and rollback from 7.2 on).
enum class TransactionRequest : std::uint16_t {
    GetDtcAddress = 0,
    Propagate = 1,
    Begin = 5,
    Promote = 6,
    Commit = 7,
    Rollback = 8,
    Save = 9,
};

struct TransactionManagerRequest {
    RequestHeaders headers;
    TransactionRequest type = TransactionRequest::Begin;
    std::string name;            // the transaction's name (Begin, Commit, Rollback, Save), often empty
    bool beginAfter = false;     // Commit and Rollback: begin a new transaction right after
    std::uint8_t isolationLevel = 0;  // Begin, and Commit/Rollback with beginAfter: 0 = unchanged
};

// Parses a transaction manager request; the distributed-transaction requests (GetDtcAddress,
// Propagate, Promote) are returned by type alone.
TransactionManagerRequest decodeTransactionManager(ByteView payload, std::uint32_t tdsVersion);

}  // namespace vopa::tds
