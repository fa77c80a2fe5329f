// libFuzzer target over the TDS codec: any bytes go through the message assembler (in pieces, at a
// packet size the input picks) and through every decoder of a client's messages (PRELOGIN, LOGIN7, SQL
// batch and RPC, in the old and the new protocol versions); the parameters an RPC decodes to are
// written back as a row of their own types. The bytes are also a SQL Server Browser datagram, answered
// about a served instance: an answer must be a whole SVR_RESP. A ProtocolError is the expected answer to bad input; any
// other exception, a crash or a sanitizer report is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "server/tds/Browser.h"
#include "server/tds/Login7.h"
#include "server/tds/Packet.h"
#include "server/tds/Prelogin.h"
#include "server/tds/Requests.h"
#include "server/tds/Tokens.h"

using namespace vopa;
using namespace vopa::tds;

namespace {

template <typename F>
void refusedOrDone(F&& f) {
    try {
        f();
    } catch (const ProtocolError&) {
    }
}

void writeBack(const RpcRequest& request, std::uint32_t tdsVersion) {
    for (const RpcCall& call : request.calls) {
        (void)call.procedure();
        for (const RpcParameter& p : call.parameters) {
            refusedOrDone([&] {
                TokenWriter w(tdsVersion);
                w.colMetadata({{p.name, p.type, column::kNullable, 0, ""}});
                const Value values[] = {p.value};
                w.row(values);
                if (tdsVersion >= version::k73A) w.nbcRow(values);
                w.returnValue(0, p.name, p.type, p.value);
            });
        }
    }
}

void decodeAll(ByteView payload) {
    refusedOrDone([&] { decodePrelogin(payload); });
    refusedOrDone([&] {
        const Login7 login = decodeLogin7(payload);
        refusedOrDone([&] { negotiateTdsVersion(login.tdsVersion); });
    });
    for (std::uint32_t v : {version::k71, version::k74}) {
        refusedOrDone([&] { decodeSqlBatch(payload, v); });
        refusedOrDone([&] { writeBack(decodeRpc(payload, v), v); });
        refusedOrDone([&] { decodeTransactionManager(payload, v); });
    }
}

// Never throws: whatever the datagram, an answer or nothing, and an answer whose length says its size.
void answerDatagram(ByteView datagram) {
    static const std::vector<BrowserInstance> served = {{"UFFICIO", "PROVA", "11.0.2100.0", 1433}};
    const std::optional<BrowserRequest> request = decodeBrowserRequest(datagram);
    if (!request) return;
    const Bytes answer = encodeBrowserAnswer(*request, served);
    if (!answer.empty() &&
        (answer.size() < 3 || answer[0] != 0x05 || std::size_t(answer[1] | answer[2] << 8) != answer.size() - 3))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return -1;
    const ByteView input(data, size);
    decodeAll(input);
    answerDatagram(input);
    if (size < 2) return 0;

    // The first two bytes choose the packet size and the size of the pieces the bytes arrive in.
    const std::size_t packetSize = 9 + (std::size_t{data[0]} << 4);
    const std::size_t piece = 1 + data[1] % 64;
    refusedOrDone([&] {
        MessageAssembler assembler(packetSize, 8192);
        for (std::size_t at = 2; at < size; at += piece) {
            assembler.feed(input.subspan(at, std::min(piece, size - at)));
            while (assembler.hasMessage()) decodeAll(assembler.next().payload);
        }
    });
    return 0;
}
