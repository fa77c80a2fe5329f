#pragma once
// PRELOGIN: the client's options, and the server's answer.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "server/tds/Wire.h"

namespace vopa::tds {

enum class Encryption : std::uint8_t { Off = 0, On = 1, NotSupported = 2, Required = 3 };

struct ProductVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t subBuild = 0;
};

struct Prelogin {
    ProductVersion version;  // always present: a PRELOGIN must start with it
    std::optional<std::uint8_t> encryption;  // an Encryption value, or a flag the server does not know
    std::string instance;                    // INSTOPT, up to its terminating NUL
    std::optional<std::uint32_t> threadId;
    std::optional<bool> mars;
    std::optional<std::array<std::uint8_t, 36>> traceId;  // connection id, activity id and sequence
    std::optional<bool> fedAuthRequired;
    std::optional<std::array<std::uint8_t, 32>> nonce;
};

// Parses a client's PRELOGIN payload. Offsets and lengths are checked against the payload; an option's
// data must lie after the option table and have its option's size; an option may appear only once;
// unknown options are skipped (later versions add some).
Prelogin decodePrelogin(ByteView payload);

// What the server answers with `serverCanEncrypt` (a TLS certificate is set up) and `serverRequires`
// (every client must encrypt). A client that cannot encrypt (NotSupported) gets NotSupported: without
// TLS it goes on in plain, and a server that requires encryption then refuses its login. A client that
// asks for encryption (On, Required) gets On: the whole connection. A client that leaves it to the
// server (Off, or no option) gets Off, the login alone encrypted, or Required, the whole connection,
// when the server requires it. Without TLS the answer is NotSupported, and a client that requires
// encryption then closes the connection itself.
Encryption negotiateEncryption(std::optional<std::uint8_t> client, bool serverCanEncrypt, bool serverRequires);

// The server's PRELOGIN answer (sent in a TabularResult message): VERSION, ENCRYPTION, INSTOPT (accepted),
// THREADID (empty) and MARS (off).
Bytes encodePreloginResponse(const ProductVersion& version, Encryption encryption);

}  // namespace vopa::tds
