#include "runtime/skin/text_units.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

#include "host/common.h"

namespace tavi::runtime {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// iconv_open's failure value.
iconv_t Invalid() {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<iconv_t>(-1);
}

// One descriptor per conversion; closed with the converter.
class Iconv {
public:
    Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Iconv() {
        if (cd_ != Invalid())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return cd_ != Invalid(); }
    iconv_t Get() const { return cd_; }

private:
    iconv_t cd_;
};

std::u32string Decode(const std::string& bytes, const std::string& codePage) {
    std::u32string out;
    Iconv cd("UTF-32LE", codePage);
    if (!cd.Valid()) {
        for (unsigned char c : bytes)
            out.push_back(c < 0x80 ? c : kReplacement);
        return out;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[1024];
    auto flush = [&](std::size_t produced) {
        for (std::size_t i = 0; i + 4 <= produced; i += 4) {
            std::uint32_t unit = static_cast<unsigned char>(buffer[i]) |
                                 static_cast<unsigned char>(buffer[i + 1]) << 8 |
                                 static_cast<unsigned char>(buffer[i + 2]) << 16 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(buffer[i + 3])) << 24;
            out.push_back(static_cast<char32_t>(unit));
        }
    };
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof(buffer);
        std::size_t result = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
        flush(sizeof(buffer) - outLeft);
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // A byte that does not start a character of the code page, or a sequence cut short.
        out.push_back(kReplacement);
        ++in;
        --inLeft;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string Encode(const std::u32string& text, const std::string& codePage) {
    std::string out;
    Iconv cd(codePage, "UTF-32LE");
    if (!cd.Valid()) {
        for (char32_t c : text)
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return out;
    }
    std::string units;
    units.reserve(text.size() * 4);
    for (char32_t c : text)
        for (int shift = 0; shift < 32; shift += 8)
            units.push_back(static_cast<char>((static_cast<std::uint32_t>(c) >> shift) & 0xFF));
    char* in = units.data();
    std::size_t inLeft = units.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof(buffer);
        std::size_t result = iconv(cd.Get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof(buffer) - outLeft);
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        out.push_back('?');
        std::size_t skip = inLeft < 4 ? inLeft : 4;
        in += skip;
        inLeft -= skip;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = buffer;
    std::size_t outLeft = sizeof(buffer);
    iconv(cd.Get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, sizeof(buffer) - outLeft);
    return out;
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::u32string NarrowToUnicode(const std::string& narrow) {
    if (IsAscii(narrow))
        return std::u32string(narrow.begin(), narrow.end());
    return Decode(narrow, GetSystemCodePage());
}

std::string UnicodeToNarrow(const std::u32string& text) {
    return Encode(text, GetSystemCodePage());
}

std::u32string Utf8ToUnicode(const std::string& utf8) {
    if (IsAscii(utf8))
        return std::u32string(utf8.begin(), utf8.end());
    return Decode(utf8, "UTF-8");
}

std::string UnicodeToUtf8(const std::u32string& text) {
    return Encode(text, "UTF-8");
}

} // namespace tavi::runtime
