#pragma once
// Constants of the TDS protocol (versions 7.1 to 7.4) and the one exception the codec throws.
// Every decoder of this folder checks each length, count and offset against the bytes it was given
// and throws ProtocolError when one does not fit: the server closes that connection and goes on.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vopa::tds {

class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// TDS versions as LOGIN7 carries them (a little-endian DWORD).
namespace version {
inline constexpr std::uint32_t k71 = 0x71000001;
inline constexpr std::uint32_t k72 = 0x72090002;
inline constexpr std::uint32_t k73A = 0x730A0003;
inline constexpr std::uint32_t k73B = 0x730B0003;
inline constexpr std::uint32_t k74 = 0x74000004;
}  // namespace version

// Packet types (the first byte of a packet header).
enum class PacketType : std::uint8_t {
    SqlBatch = 0x01,
    Rpc = 0x03,
    TabularResult = 0x04,
    Attention = 0x06,
    BulkLoad = 0x07,
    FedAuthToken = 0x08,
    TransactionManager = 0x0E,
    Login7 = 0x10,
    Sspi = 0x11,
    Prelogin = 0x12,
};

// Packet status bits.
namespace status {
inline constexpr std::uint8_t kEndOfMessage = 0x01;
inline constexpr std::uint8_t kIgnore = 0x02;
inline constexpr std::uint8_t kResetConnection = 0x08;
inline constexpr std::uint8_t kResetConnectionSkipTran = 0x10;
}  // namespace status

// Token types of the server's answers.
namespace token {
inline constexpr std::uint8_t kReturnStatus = 0x79;
inline constexpr std::uint8_t kColMetadata = 0x81;
inline constexpr std::uint8_t kError = 0xAA;
inline constexpr std::uint8_t kInfo = 0xAB;
inline constexpr std::uint8_t kReturnValue = 0xAC;
inline constexpr std::uint8_t kLoginAck = 0xAD;
inline constexpr std::uint8_t kRow = 0xD1;
inline constexpr std::uint8_t kNbcRow = 0xD2;
inline constexpr std::uint8_t kEnvChange = 0xE3;
inline constexpr std::uint8_t kDone = 0xFD;
inline constexpr std::uint8_t kDoneProc = 0xFE;
inline constexpr std::uint8_t kDoneInProc = 0xFF;
}  // namespace token

// Status bits of DONE, DONEPROC and DONEINPROC.
namespace done {
inline constexpr std::uint16_t kFinal = 0x0000;
inline constexpr std::uint16_t kMore = 0x0001;
inline constexpr std::uint16_t kError = 0x0002;
inline constexpr std::uint16_t kInTransaction = 0x0004;
inline constexpr std::uint16_t kCount = 0x0010;
inline constexpr std::uint16_t kAttention = 0x0020;
inline constexpr std::uint16_t kServerError = 0x0100;
}  // namespace done

// ENVCHANGE types.
namespace env {
inline constexpr std::uint8_t kDatabase = 1;
inline constexpr std::uint8_t kLanguage = 2;
inline constexpr std::uint8_t kPacketSize = 4;
inline constexpr std::uint8_t kCollation = 7;
inline constexpr std::uint8_t kBeginTransaction = 8;
inline constexpr std::uint8_t kCommitTransaction = 9;
inline constexpr std::uint8_t kRollbackTransaction = 10;
inline constexpr std::uint8_t kResetConnectionAck = 18;
}  // namespace env

// Packet sizes a client may ask for; 0 in LOGIN7 means "the server's default".
inline constexpr std::uint32_t kMinPacketSize = 512;
inline constexpr std::uint32_t kMaxPacketSize = 32767;
inline constexpr std::uint32_t kDefaultPacketSize = 4096;

}  // namespace vopa::tds
