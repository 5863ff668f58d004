#include "http/http_response_decoder.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <strings.h>

namespace microblog {
namespace {

constexpr char kTerminator[] = "\r\n\r\n";
constexpr std::size_t kTerminatorLength = 4;
constexpr std::int64_t kReserveLimit = std::int64_t{1} << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal Content-Length: digits only, small enough for the 64-bit counters.
bool ReadLength(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

HttpResponseDecoder::Result HttpResponseDecoder::Finish(Result result) {
    if (result != Result::kContinue) {
        finished_ = true;
        final_ = result;
        header_.clear();
        header_.shrink_to_fit();
    }
    return result;
}

HttpResponseDecoder::Result HttpResponseDecoder::Decode(const char* buffer, int count) {
    if (finished_)
        return final_;
    if (count < 0 || (buffer == nullptr && count > 0))
        return Finish(Result::kFail);
    auto n = static_cast<std::size_t>(count);
    if (phase_ == Phase::kHeader) {
        // A connection that closes before the header block ended carries no reply.
        if (n == 0)
            return Finish(Result::kFail);
        return Finish(DecodeHeader(buffer, n));
    }
    if (n == 0)
        return Finish(untilClose_ ? Result::kComplete : Result::kFail);
    return Finish(TakeBytes(buffer, n));
}

HttpResponseDecoder::Result HttpResponseDecoder::DecodeHeader(const char* bytes, std::size_t n) {
    std::string_view incoming(bytes, n);
    std::string carried; // what followed an interim reply
    for (;;) {
        std::size_t searchFrom =
            header_.size() >= kTerminatorLength - 1 ? header_.size() - (kTerminatorLength - 1) : 0;
        std::size_t room = kMaxHeaderBytes - std::min(header_.size(), kMaxHeaderBytes);
        std::size_t take = std::min(incoming.size(), room);
        header_.append(incoming.substr(0, take));
        incoming.remove_prefix(take);
        auto end = header_.find(kTerminator, searchFrom, kTerminatorLength);
        if (end == std::string::npos)
            return header_.size() >= kMaxHeaderBytes ? Result::kFail : Result::kContinue;
        Result framing = ReadHeaderBlock(end + 2);
        if (framing == Result::kFail)
            return Result::kFail;
        std::string rest = header_.substr(end + kTerminatorLength);
        rest.append(incoming);
        header_.clear();
        if (statusCode_ >= 100 && statusCode_ < 200) {
            // An interim reply (such as 100 Continue) is followed by the real one.
            carried = std::move(rest);
            incoming = carried;
            statusCode_ = 0;
            if (incoming.empty())
                return Result::kContinue;
            continue;
        }
        phase_ = Phase::kBody;
        if (framing == Result::kComplete || rest.empty())
            return framing;
        return TakeBytes(rest.data(), rest.size());
    }
}

bool HttpResponseDecoder::FindHeader(std::size_t blockEnd, const char* name, std::string& value) const {
    std::size_t nameLength = std::strlen(name);
    std::size_t line = header_.find("\r\n");
    while (line != std::string::npos && line + 2 < blockEnd) {
        std::size_t start = line + 2;
        std::size_t next = header_.find("\r\n", start);
        if (next == std::string::npos || next > blockEnd)
            next = blockEnd;
        if (next - start > nameLength && header_[start + nameLength] == ':' &&
            strncasecmp(header_.data() + start, name, nameLength) == 0) {
            std::size_t from = start + nameLength + 1;
            std::size_t to = next;
            while (from < to && IsBlank(header_[from]))
                ++from;
            while (to > from && IsBlank(header_[to - 1]))
                --to;
            value = header_.substr(from, to - from);
            return true;
        }
        line = next;
    }
    return false;
}

HttpResponseDecoder::Result HttpResponseDecoder::ReadHeaderBlock(std::size_t blockEnd) {
    // Status line: "HTTP/x.y NNN reason".
    std::size_t statusEnd = header_.find("\r\n");
    if (header_.compare(0, 5, "HTTP/") != 0)
        return Result::kFail;
    std::size_t space = header_.find(' ');
    if (space == std::string::npos || space + 4 > statusEnd)
        return Result::kFail;
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        char c = header_[i];
        if (c < '0' || c > '9')
            return Result::kFail;
        status = status * 10 + (c - '0');
    }
    if (space + 4 < statusEnd && header_[space + 4] != ' ')
        return Result::kFail;
    statusCode_ = status;
    if (status >= 100 && status < 200)
        return status == 101 ? Result::kFail : Result::kContinue;

    contentLength_ = 0;
    chunked_ = untilClose_ = false;
    // These replies never carry a body, whatever their headers announce.
    if (status == 204 || status == 304)
        return Result::kComplete;

    std::string value;
    if (FindHeader(blockEnd, "Content-Length", value)) {
        if (!ReadLength(value, contentLength_) || contentLength_ > maxBodyBytes_)
            return Result::kFail;
        if (contentLength_ == 0)
            return Result::kComplete;
        // Reserve for an ordinary reply; a large announced length grows the body as bytes come.
        body_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(contentLength_, kReserveLimit)));
        return Result::kContinue;
    }
    if (FindHeader(blockEnd, "Transfer-Encoding", value)) {
        // Only a plain chunked body can be decoded; any other coding would hand over its raw bytes.
        if (value.size() != 7 || strncasecmp(value.c_str(), "chunked", 7) != 0)
            return Result::kFail;
        chunked_ = true;
        inSizeLine_ = true;
        sizeText_.clear();
        return Result::kContinue;
    }
    untilClose_ = true;
    return Result::kContinue;
}

HttpResponseDecoder::Result HttpResponseDecoder::TakeBytes(const char* bytes, std::size_t n) {
    if (chunked_)
        return TakeChunked(bytes, n);
    if (untilClose_) {
        if (bodyBytes_ + static_cast<std::int64_t>(n) > maxBodyBytes_)
            return Result::kFail;
        body_.append(bytes, n);
        bodyBytes_ += static_cast<std::int64_t>(n);
        return Result::kContinue;
    }
    // Bytes past the announced length are not part of this reply.
    auto wanted = static_cast<std::size_t>(contentLength_ - bodyBytes_);
    std::size_t taken = std::min(n, wanted);
    body_.append(bytes, taken);
    bodyBytes_ += static_cast<std::int64_t>(taken);
    return bodyBytes_ < contentLength_ ? Result::kContinue : Result::kComplete;
}

bool HttpResponseDecoder::ReadSizeLine(std::int64_t& size) const {
    // HEX [blanks] [";" extension] [CR] LF
    std::size_t end = sizeText_.size();
    if (end == 0 || sizeText_[end - 1] != '\n')
        return false;
    --end;
    if (end > 0 && sizeText_[end - 1] == '\r')
        --end;
    std::size_t i = 0;
    size = 0;
    while (i < end && HexDigit(sizeText_[i]) >= 0) {
        if (i >= 15)
            return false;
        size = size * 16 + HexDigit(sizeText_[i]);
        ++i;
    }
    if (i == 0)
        return false;
    while (i < end && IsBlank(sizeText_[i]))
        ++i;
    if (i == end)
        return true;
    if (sizeText_[i] != ';')
        return false;
    for (++i; i < end; ++i) {
        auto c = static_cast<unsigned char>(sizeText_[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7f)
            return false;
    }
    return true;
}

HttpResponseDecoder::Result HttpResponseDecoder::TakeChunked(const char* bytes, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        if (inSizeLine_) {
            const void* lf = std::memchr(bytes + i, '\n', n - i);
            std::size_t fragmentEnd =
                lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - bytes) + 1 : n;
            if (sizeText_.size() + (fragmentEnd - i) > kMaxSizeLineBytes)
                return Result::kFail;
            sizeText_.append(bytes + i, fragmentEnd - i);
            i = fragmentEnd;
            if (!lf)
                return Result::kContinue;
            inSizeLine_ = false;
            std::int64_t size = 0;
            if (!ReadSizeLine(size))
                return Result::kFail;
            sizeText_.clear();
            if (size == 0) {
                // Trailer lines after the last chunk are not read.
                lastChunkSeen_ = true;
                return Result::kComplete;
            }
            if (chunkTarget_ + size > maxBodyBytes_)
                return Result::kFail;
            chunkTarget_ += size + 2;
            continue;
        }
        // Inside a chunk's data or the CR LF after it.
        auto remaining = static_cast<std::size_t>(chunkTarget_ - bodyBytes_);
        std::size_t take = std::min(n - i, remaining);
        std::int64_t dataLeft = std::max<std::int64_t>(0, chunkTarget_ - 2 - bodyBytes_);
        std::size_t data = std::min(take, static_cast<std::size_t>(dataLeft));
        body_.append(bytes + i, data);
        for (std::size_t k = data; k < take; ++k) {
            std::int64_t position = bodyBytes_ + static_cast<std::int64_t>(k);
            char expected = position == chunkTarget_ - 2 ? '\r' : '\n';
            if (bytes[i + k] != expected)
                return Result::kFail;
        }
        bodyBytes_ += static_cast<std::int64_t>(take);
        i += take;
        if (bodyBytes_ == chunkTarget_) {
            // The chunk and its CR LF are in: the counters hold the sum of the sizes again.
            bodyBytes_ -= 2;
            chunkTarget_ -= 2;
            inSizeLine_ = true;
        }
    }
    return Result::kContinue;
}

} // namespace microblog
