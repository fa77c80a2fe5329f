#include "server/tds/Requests.h"

#include <string>

#include "server/tds/Protocol.h"

namespace vopa::tds {

namespace {

constexpr std::uint16_t kHeaderTransactionDescriptor = 2;
constexpr std::uint16_t kProcIdSwitch = 0xFFFF;
constexpr std::uint8_t kBatchFlag = 0xFF;   // 7.2 and later
constexpr std::uint8_t kNoExecFlag = 0xFE;  // 7.2 and later
constexpr std::uint8_t kBatchFlag71 = 0x80;
constexpr std::uint8_t kEncryptedParameter = 0x08;

RequestHeaders readHeaders(Reader& r, std::uint32_t tdsVersion) {
    RequestHeaders h;
    if (tdsVersion < version::k72) return h;
    const std::size_t start = r.position();
    const std::uint32_t total = r.u32("ALL_HEADERS length");
    if (total < 4 || total - 4 > r.remaining())
        r.fail("ALL_HEADERS length " + std::to_string(total) + " does not fit the " + std::to_string(r.remaining() + 4) +
               " bytes left");
    while (r.position() - start < total) {
        const std::size_t left = total - (r.position() - start);
        const std::uint32_t length = r.u32("header length");
        if (length < 6 || length > left)
            r.fail("header length " + std::to_string(length) + " does not fit the " + std::to_string(left) +
                   " bytes of ALL_HEADERS left");
        const std::uint16_t type = r.u16("header type");
        if (type == kHeaderTransactionDescriptor) {
            if (length != 18) r.fail("transaction descriptor header of " + std::to_string(length) + " bytes instead of 18");
            h.transactionDescriptor = r.u64("transaction descriptor");
            h.outstandingRequests = r.u32("outstanding request count");
        } else {
            r.skip(length - 6, "header data");
        }
    }
    return h;
}

}  // namespace

SqlBatch decodeSqlBatch(ByteView payload, std::uint32_t tdsVersion) {
    Reader r(payload, "SQL batch");
    SqlBatch b;
    b.headers = readHeaders(r, tdsVersion);
    if (r.remaining() % 2) r.fail("the text has an odd number of bytes");
    b.text = utf16ToUtf8(r.bytes(r.remaining(), "text"));
    return b;
}

TransactionManagerRequest decodeTransactionManager(ByteView payload, std::uint32_t tdsVersion) {
    Reader r(payload, "transaction manager request");
    TransactionManagerRequest t;
    t.headers = readHeaders(r, tdsVersion);
    const std::uint16_t type = r.u16("request type");
    switch (type) {
    case 0: case 1: case 6:
        t.type = static_cast<TransactionRequest>(type);
        return t;
    case 5:
        t.type = TransactionRequest::Begin;
        t.isolationLevel = r.u8("isolation level");
        if (t.isolationLevel > 5) r.fail("isolation level " + std::to_string(t.isolationLevel));
        if (!r.atEnd()) t.name = r.bVarchar("name");
        return t;
    case 7: case 8: {
        t.type = static_cast<TransactionRequest>(type);
        if (r.atEnd()) return t;
        t.name = r.bVarchar("name");
        const std::uint8_t flags = r.u8("flags");
        t.beginAfter = (flags & 0x01) != 0;
        if (t.beginAfter) {
            t.isolationLevel = r.u8("isolation level");
            if (t.isolationLevel > 5) r.fail("isolation level " + std::to_string(t.isolationLevel));
            r.bVarchar("new name");
        }
        return t;
    }
    case 9:
        t.type = TransactionRequest::Save;
        t.name = r.bVarchar("name");
        return t;
    default:
        r.fail("request type " + std::to_string(type));
    }
}

std::string RpcCall::procedure() const {
    if (!procId) return procName;
    switch (static_cast<ProcId>(*procId)) {
    case ProcId::CursorOpen: return "sp_cursoropen";
    case ProcId::CursorPrepare: return "sp_cursorprepare";
    case ProcId::CursorExecute: return "sp_cursorexecute";
    case ProcId::CursorPrepExec: return "sp_cursorprepexec";
    case ProcId::CursorUnprepare: return "sp_cursorunprepare";
    case ProcId::CursorFetch: return "sp_cursorfetch";
    case ProcId::CursorOption: return "sp_cursoroption";
    case ProcId::CursorClose: return "sp_cursorclose";
    case ProcId::ExecuteSql: return "sp_executesql";
    case ProcId::Prepare: return "sp_prepare";
    case ProcId::Execute: return "sp_execute";
    case ProcId::PrepExec: return "sp_prepexec";
    case ProcId::PrepExecRpc: return "sp_prepexecrpc";
    case ProcId::Unprepare: return "sp_unprepare";
    }
    return {};
}

RpcRequest decodeRpc(ByteView payload, std::uint32_t tdsVersion) {
    Reader r(payload, "RPC");
    RpcRequest req;
    req.headers = readHeaders(r, tdsVersion);
    auto isSeparator = [&](std::uint8_t b) {
        return tdsVersion >= version::k72 ? (b == kBatchFlag || b == kNoExecFlag) : b == kBatchFlag71;
    };
    do {
        RpcCall call;
        const std::uint16_t nameLength = r.u16("procedure name length");
        if (nameLength == kProcIdSwitch) {
            call.procId = r.u16("procedure id");
        } else {
            if (nameLength == 0 || nameLength > 1046) r.fail("procedure name of " + std::to_string(nameLength) + " characters");
            call.procName = r.utf16(nameLength, "procedure name");
        }
        call.options = r.u16("option flags");
        while (!r.atEnd() && !isSeparator(r.peek("parameter"))) {
            RpcParameter p;
            p.name = r.bVarchar("parameter name");
            p.status = r.u8("parameter status");
            if (p.status & kEncryptedParameter) r.fail("parameter " + p.name + " is encrypted, which is not supported");
            p.type = readTypeInfo(r);
            p.value = readValue(r, p.type);
            call.parameters.push_back(std::move(p));
        }
        req.calls.push_back(std::move(call));
        if (!r.atEnd()) r.u8("batch separator");
    } while (!r.atEnd());
    return req;
}

}  // namespace vopa::tds
