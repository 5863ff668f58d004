// The response decoder: turns the reads of one connection into the reply's status code and body,
// and says when the reply is complete. It does no input or output itself.
#pragma once

#include <cstdint>
#include <string>

namespace microblog {

class HttpResponseDecoder {
public:
    enum class Phase { kHeader, kBody };
    enum class Result {
        kContinue, // another read is needed
        kComplete, // statusCode() and body() are final
        kFail      // the reply is unusable
    };

    // The header block, up to and including its empty line, may be this long.
    static constexpr std::size_t kMaxHeaderBytes = std::size_t{64} * 1024;
    // A chunk-size line (with any extension and its line end) may be this long.
    static constexpr std::size_t kMaxSizeLineBytes = 1024;
    // Bodies beyond this are refused rather than held in memory.
    static constexpr std::int64_t kDefaultMaxBodyBytes = 64LL * 1024 * 1024;

    // Takes one read: count bytes of buffer, or a count of 0 when the peer has closed the
    // connection. Complete and Fail are final: later reads are ignored and answer the same.
    Result Decode(const char* buffer, int count);

    void SetMaxBodyBytes(std::int64_t bytes) { maxBodyBytes_ = bytes; }

    Phase phase() const { return phase_; }
    int statusCode() const { return statusCode_; }
    const std::string& body() const { return body_; }
    std::string TakeBody() { return std::move(body_); }
    std::int64_t contentLength() const { return contentLength_; }
    bool chunked() const { return chunked_; }
    std::int64_t bodyBytes() const { return bodyBytes_; }
    bool lastChunkSeen() const { return lastChunkSeen_; }

private:
    Result Finish(Result result);
    Result DecodeHeader(const char* bytes, std::size_t n);
    // Reads the status line and the framing headers of header_[0, blockEnd).
    Result ReadHeaderBlock(std::size_t blockEnd);
    Result TakeBytes(const char* bytes, std::size_t n);
    Result TakeChunked(const char* bytes, std::size_t n);
    bool ReadSizeLine(std::int64_t& size) const;
    bool FindHeader(std::size_t blockEnd, const char* name, std::string& value) const;

    Phase phase_ = Phase::kHeader;
    int statusCode_ = 0;
    std::int64_t contentLength_ = 0;
    bool chunked_ = false;
    bool untilClose_ = false;
    std::int64_t bodyBytes_ = 0;
    std::int64_t chunkTarget_ = 0;
    bool inSizeLine_ = false;
    std::string sizeText_;
    bool lastChunkSeen_ = false;
    std::string body_;

    std::string header_; // the header block collected so far
    std::int64_t maxBodyBytes_ = kDefaultMaxBodyBytes;
    bool finished_ = false;
    Result final_ = Result::kContinue;
};

} // namespace microblog
