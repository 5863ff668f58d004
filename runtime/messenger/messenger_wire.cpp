#include "runtime/messenger/messenger_wire.h"

#include "host/marshal.h"

namespace tavi::runtime::messenger {
namespace {

std::uint32_t ReadLength(const char* bytes) {
    auto b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// Runs a read of a payload; false when it ran short or left bytes over.
template <class Read> bool ReadWhole(const std::string& payload, Read read) {
    Unpack unpack(payload.data(), payload.size());
    try {
        read(unpack);
    } catch (MarshalError* error) {
        delete error;
        return false;
    }
    return unpack.empty();
}

} // namespace

std::string EncodeMessage(MessageKind kind, std::uint32_t sequence, const std::string& payload) {
    Pack pack;
    pack.push_uint32(static_cast<std::uint32_t>(kMessageHeaderBytes + payload.size()));
    pack.push_uint8(static_cast<std::uint8_t>(kind));
    pack.push_uint32(sequence);
    pack.append(payload.data(), payload.size());
    return pack.str();
}

void MessageReader::Feed(const char* bytes, std::size_t n) {
    // Drop what has been read once it is most of the buffer, so the buffer stays small.
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(bytes, n);
}

MessageReader::Result MessageReader::Next(Message& out) {
    if (Buffered() < 4)
        return Result::NeedMore;
    std::uint32_t length = ReadLength(buffer_.data() + start_);
    if (length < kMessageHeaderBytes || length > kMaxMessageBytes)
        return Result::Malformed;
    if (Buffered() < 4 + static_cast<std::size_t>(length))
        return Result::NeedMore;
    const char* at = buffer_.data() + start_ + 4;
    out.kind = static_cast<MessageKind>(static_cast<unsigned char>(at[0]));
    out.sequence = ReadLength(at + 1);
    out.payload.assign(at + kMessageHeaderBytes, length - kMessageHeaderBytes);
    start_ += 4 + static_cast<std::size_t>(length);
    return Result::Ready;
}

std::string SignInRequest::Encode() const {
    Pack pack;
    pack.push_text(account);
    pack.push_varstr(credential);
    return pack.str();
}

bool SignInRequest::Decode(const std::string& payload) {
    return ReadWhole(payload, [this](Unpack& unpack) {
        account = unpack.pop_text();
        credential = unpack.pop_varstr();
    });
}

std::string StatusAndTag::Encode() const {
    Pack pack;
    pack.push_uint16(status);
    pack.push_uint32(timeTag);
    return pack.str();
}

bool StatusAndTag::Decode(const std::string& payload) {
    return ReadWhole(payload, [this](Unpack& unpack) {
        status = unpack.pop_uint16();
        timeTag = unpack.pop_uint32();
    });
}

std::string PacketRequest::Encode() const {
    Pack pack;
    pack.push_uint32(static_cast<std::uint32_t>(frame.size()));
    pack.append(frame.data(), frame.size());
    pack.append(body.data(), body.size());
    return pack.str();
}

bool PacketRequest::Decode(const std::string& payload) {
    return ReadWhole(payload, [this](Unpack& unpack) {
        std::uint32_t frameBytes = unpack.pop_uint32();
        const char* at = unpack.pop_fetch_ptr(frameBytes);
        frame.assign(at, frameBytes);
        std::size_t rest = unpack.size();
        body.assign(unpack.pop_fetch_ptr(rest), rest);
    });
}

std::string PacketReply::Encode() const {
    Pack pack;
    pack.push_uint16(status);
    pack.append(body.data(), body.size());
    return pack.str();
}

bool PacketReply::Decode(const std::string& payload) {
    return ReadWhole(payload, [this](Unpack& unpack) {
        status = unpack.pop_uint16();
        std::size_t rest = unpack.size();
        body.assign(unpack.pop_fetch_ptr(rest), rest);
    });
}

} // namespace tavi::runtime::messenger
