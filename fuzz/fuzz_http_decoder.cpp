// Feeds an arbitrary reply to the decoder, cut into arbitrary reads, optionally followed by the
// peer's close. The outcome must not depend on where the reads were cut: the same reply taken in
// one read must give the same result, status and body. The first bytes of the input choose the
// cuts; the rest is the reply.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/http_response_decoder.h"

namespace {

using microblog::HttpResponseDecoder;
using Result = HttpResponseDecoder::Result;

struct Outcome {
    Result result;
    int status;
    std::string body;
};

Outcome Run(const std::string& reply, const std::vector<std::size_t>& cuts, bool close) {
    HttpResponseDecoder decoder;
    decoder.SetMaxBodyBytes(1 << 20);
    Result result = Result::kContinue;
    std::size_t at = 0;
    std::size_t next = 0;
    while (at < reply.size() && result == Result::kContinue) {
        std::size_t n = next < cuts.size() ? cuts[next++] : reply.size() - at;
        n = std::min(n, reply.size() - at);
        result = decoder.Decode(reply.data() + at, static_cast<int>(n));
        at += n;
    }
    if (close && result == Result::kContinue)
        result = decoder.Decode(nullptr, 0);
    if (result == Result::kComplete && decoder.body().size() > reply.size())
        std::abort();
    return {result, decoder.statusCode(), decoder.body()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // Byte 0: how many cuts follow (low 5 bits) and whether the peer closes (bit 7).
    std::size_t cutCount = data[0] & 0x1f;
    bool close = (data[0] & 0x80) != 0;
    std::size_t header = 1 + cutCount;
    if (size < header)
        return 0;
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < header; ++i)
        cuts.push_back(static_cast<std::size_t>(data[i]) * ((data[i] & 1) ? 1 : 9) + 1);
    std::string reply(reinterpret_cast<const char*>(data + header), size - header);

    Outcome split = Run(reply, cuts, close);
    Outcome whole = Run(reply, {}, close);
    if (split.result != whole.result)
        std::abort();
    if (whole.result == Result::kComplete && (split.status != whole.status || split.body != whole.body))
        std::abort();
    return 0;
}
