#include "server/tds/Packet.h"

#include <algorithm>
#include <string>

namespace vopa::tds {

namespace {

bool isClientType(std::uint8_t type) {
    switch (static_cast<PacketType>(type)) {
    case PacketType::SqlBatch:
    case PacketType::Rpc:
    case PacketType::Attention:
    case PacketType::BulkLoad:
    case PacketType::FedAuthToken:
    case PacketType::TransactionManager:
    case PacketType::Login7:
    case PacketType::Sspi:
    case PacketType::Prelogin:
        return true;
    case PacketType::TabularResult:
        return false;
    }
    return false;
}

}  // namespace

PacketHeader PacketHeader::read(ByteView bytes) {
    Reader r(bytes, "packet header");
    PacketHeader h;
    h.type = r.u8("type");
    h.status = r.u8("status");
    h.length = r.u16be("length");
    h.spid = r.u16be("SPID");
    h.packetId = r.u8("packet id");
    h.window = r.u8("window");
    return h;
}

void PacketHeader::write(Bytes& out) const {
    Writer w(out);
    w.u8(type);
    w.u8(status);
    w.u16be(length);
    w.u16be(spid);
    w.u8(packetId);
    w.u8(window);
}

MessageAssembler::MessageAssembler(std::size_t packetSize, std::size_t maxMessageSize)
    : packetSize_(packetSize), maxMessageSize_(maxMessageSize) {}

void MessageAssembler::setPacketSize(std::size_t packetSize) { packetSize_ = packetSize; }

void MessageAssembler::feed(ByteView bytes) {
    while (!bytes.empty()) {
        // Complete the header first, then the packet it announces.
        std::size_t want = kHeaderSize;
        if (pending_.size() >= kHeaderSize) want = PacketHeader::read(pending_).length;
        const std::size_t take = std::min(want - pending_.size(), bytes.size());
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (pending_.size() == kHeaderSize) {
            const PacketHeader h = PacketHeader::read(pending_);
            if (h.length < kHeaderSize)
                throw ProtocolError("packet length " + std::to_string(h.length) + " is below the header's 8 bytes");
            if (h.length > packetSize_)
                throw ProtocolError("packet length " + std::to_string(h.length) + " is above the packet size " +
                                    std::to_string(packetSize_));
            if (!isClientType(h.type))
                throw ProtocolError("packet type " + std::to_string(h.type) + " is not one a client sends");
        }
        if (pending_.size() >= kHeaderSize) {
            const PacketHeader h = PacketHeader::read(pending_);
            if (pending_.size() == h.length) {
                takePacket(h, ByteView(pending_).subspan(kHeaderSize));
                pending_.clear();
            }
        }
    }
}

void MessageAssembler::takePacket(const PacketHeader& h, ByteView payload) {
    if (!inMessage_) {
        current_ = Message{};
        current_.type = static_cast<PacketType>(h.type);
        current_.spid = h.spid;
        inMessage_ = true;
    } else if (static_cast<PacketType>(h.type) != current_.type) {
        throw ProtocolError("packet of type " + std::to_string(h.type) + " inside a message of type " +
                            std::to_string(static_cast<int>(current_.type)));
    }
    if (current_.payload.size() + payload.size() > maxMessageSize_)
        throw ProtocolError("message above the maximum of " + std::to_string(maxMessageSize_) + " bytes");
    current_.status |= h.status;
    current_.payload.insert(current_.payload.end(), payload.begin(), payload.end());
    if (h.status & status::kEndOfMessage) {
        inMessage_ = false;
        if (!(h.status & status::kIgnore)) ready_.push_back(std::move(current_));
        current_ = Message{};
    }
}

Message MessageAssembler::next() {
    Message m = std::move(ready_.front());
    ready_.pop_front();
    return m;
}

void writePackets(PacketType type, ByteView message, std::size_t packetSize, std::uint16_t spid, Bytes& out) {
    if (packetSize <= kHeaderSize || packetSize > 0xFFFF)
        throw ProtocolError("packet size " + std::to_string(packetSize) + " cannot carry data");
    const std::size_t room = packetSize - kHeaderSize;
    std::uint8_t id = 1;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(room, message.size() - at);
        PacketHeader h;
        h.type = static_cast<std::uint8_t>(type);
        h.status = at + n == message.size() ? status::kEndOfMessage : 0;
        h.length = static_cast<std::uint16_t>(kHeaderSize + n);
        h.spid = spid;
        h.packetId = id++;
        h.write(out);
        out.insert(out.end(), message.begin() + static_cast<std::ptrdiff_t>(at),
                   message.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < message.size());
}

std::uint32_t negotiatePacketSize(std::uint32_t requested) {
    if (requested == 0) return kDefaultPacketSize;
    return std::clamp(requested, kMinPacketSize, kMaxPacketSize);
}

}  // namespace vopa::tds
