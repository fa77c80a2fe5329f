#pragma once
// TDS packets: the 8-byte header, the assembly of packets into messages as bytes arrive from the
// connection, and the split of an answer into packets of the negotiated size.

#include <cstddef>
#include <cstdint>
#include <deque>

#include "server/tds/Protocol.h"
#include "server/tds/Wire.h"

namespace vopa::tds {

inline constexpr std::size_t kHeaderSize = 8;

struct PacketHeader {
    std::uint8_t type = 0;
    std::uint8_t status = 0;
    std::uint16_t length = 0;  // header included; big-endian on the wire
    std::uint16_t spid = 0;    // big-endian on the wire
    std::uint8_t packetId = 0;
    std::uint8_t window = 0;

    // Reads the first 8 bytes of `bytes` (no check of the values beyond the size).
    static PacketHeader read(ByteView bytes);
    void write(Bytes& out) const;
};

// A whole request: the payload of its packets joined.
struct Message {
    PacketType type = PacketType::SqlBatch;
    std::uint8_t status = 0;  // status bits of its packets, or'ed (RESETCONNECTION comes on the first)
    std::uint16_t spid = 0;
    Bytes payload;

    bool resetConnection() const {
        return (status & (status::kResetConnection | status::kResetConnectionSkipTran)) != 0;
    }
};

// Takes the bytes of a connection as they arrive, in pieces of any size, and yields whole messages.
// A packet whose length is below 8 or above the packet size, a type no client sends, a message whose
// packets change type, or a message above the maximum size throws ProtocolError. A message the client
// ends with the IGNORE bit is dropped. After an error the assembler is unusable (the connection closes).
class MessageAssembler {
public:
    explicit MessageAssembler(std::size_t packetSize = kDefaultPacketSize,
                              std::size_t maxMessageSize = 16 * 1024 * 1024);

    // The packet size agreed at login; packets sent before it are limited by the constructor's.
    void setPacketSize(std::size_t packetSize);
    std::size_t packetSize() const { return packetSize_; }

    void feed(ByteView bytes);
    bool hasMessage() const { return !ready_.empty(); }
    // Nothing received that is not yet taken: no whole message waiting, no part of a packet or message.
    bool empty() const { return ready_.empty() && pending_.empty() && !inMessage_; }
    Message next();  // the oldest whole message; hasMessage() must be true

private:
    void takePacket(const PacketHeader& header, ByteView payload);

    std::size_t packetSize_;
    std::size_t maxMessageSize_;
    Bytes pending_;  // bytes of a packet not yet complete
    bool inMessage_ = false;
    Message current_;
    std::deque<Message> ready_;
};

// Splits a server message into packets of at most `packetSize` bytes (header included), numbered from
// 1, the last one marked end-of-message; appends them to `out`. An empty message is one bare header.
void writePackets(PacketType type, ByteView message, std::size_t packetSize, std::uint16_t spid, Bytes& out);

// The packet size the server agrees to for a LOGIN7 request (0 = the server's default).
std::uint32_t negotiatePacketSize(std::uint32_t requested);

}  // namespace vopa::tds
