// The byte format of the host's connection to the messenger server, shared by the host and the
// local messenger server. Every message is a 4-byte little-endian length of what follows, then a
// kind byte, a 32-bit sequence number (a reply carries the sequence of its request) and the payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavi::runtime::messenger {

enum class MessageKind : std::uint8_t {
    SignIn = 1,      // host -> server: the account and its password credential
    SignInReply = 2, // server -> host: status, and the server's time tag of the user's data
    Packet = 3,      // host -> server: a plug-in's frame and body
    PacketReply = 4, // server -> host: status, and the reply body
    TagQuery = 5,    // host -> server: the server's time tag of the user's data, please
    TagReply = 6,    // server -> host: status and time tag
};

// Status values of the replies.
constexpr std::uint16_t kStatusOk = 200;
constexpr std::uint16_t kStatusBadRequest = 400;
constexpr std::uint16_t kStatusRefused = 401;
constexpr std::uint16_t kStatusForbidden = 403;
constexpr std::uint16_t kStatusNotFound = 404;
constexpr std::uint16_t kStatusServerError = 500;

// Kind and sequence: the smallest message there is.
constexpr std::size_t kMessageHeaderBytes = 5;
// Larger messages are refused by both sides; settings maps are a few hundred bytes.
constexpr std::size_t kMaxMessageBytes = 4u << 20;

struct Message {
    MessageKind kind = MessageKind::SignIn;
    std::uint32_t sequence = 0;
    std::string payload;
};

// The message with its length in front, ready for the socket.
std::string EncodeMessage(MessageKind kind, std::uint32_t sequence, const std::string& payload);

// Cuts messages out of the bytes of one connection as they arrive.
class MessageReader {
public:
    enum class Result { NeedMore, Ready, Malformed };

    void Feed(const char* bytes, std::size_t n);
    // Ready: the next message is in out. Malformed: the stream cannot be read on (a length out of
    // range); the connection must be dropped.
    Result Next(Message& out);
    std::size_t Buffered() const { return buffer_.size() - start_; }

private:
    std::string buffer_;
    std::size_t start_ = 0;
};

// Payloads. Each Decode is false when the payload does not hold exactly what it should.
struct SignInRequest {
    std::string account; // narrow text in the system code page; UTF-8 on the wire
    std::string credential;
    std::string Encode() const;
    bool Decode(const std::string& payload);
};

struct StatusAndTag {
    std::uint16_t status = kStatusOk;
    std::uint32_t timeTag = 0;
    std::string Encode() const;
    bool Decode(const std::string& payload);
};

struct PacketRequest {
    std::string frame; // the marshalled frame header
    std::string body;  // the marshalled body
    std::string Encode() const;
    bool Decode(const std::string& payload);
};

struct PacketReply {
    std::uint16_t status = kStatusOk;
    std::string body; // the marshalled reply; empty unless the status is 200
    std::string Encode() const;
    bool Decode(const std::string& payload);
};

} // namespace tavi::runtime::messenger
