// Text conversion between the system code page and UTF-8 on iconv.
#include <cerrno>
#include <iconv.h>
#include <mutex>

#include "host/common.h"

namespace tavi {
namespace {

std::mutex codePageMutex;
std::string systemCodePage = "GB18030";
unsigned codePageGeneration = 0;

iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

// The converters of one thread, reopened when the system code page changes.
struct ThreadConverters {
    unsigned generation = ~0u;
    iconv_t toUtf8 = Invalid();
    iconv_t fromUtf8 = Invalid();

    ~ThreadConverters() { Close(); }
    void Close() {
        if (toUtf8 != Invalid())
            iconv_close(toUtf8);
        if (fromUtf8 != Invalid())
            iconv_close(fromUtf8);
        toUtf8 = fromUtf8 = Invalid();
    }
    void Refresh() {
        std::lock_guard<std::mutex> lock(codePageMutex);
        if (generation == codePageGeneration)
            return;
        Close();
        toUtf8 = iconv_open("UTF-8", systemCodePage.c_str());
        fromUtf8 = iconv_open(systemCodePage.c_str(), "UTF-8");
        generation = codePageGeneration;
    }
};

thread_local ThreadConverters converters;

// Converts with a descriptor; an input byte that does not convert (or an incomplete sequence at
// the end) becomes '?', and conversion goes on after it.
void ConvertWith(iconv_t cd, const char* bytes, std::size_t n, std::string& out) {
    if (cd == Invalid()) {
        out.append(bytes, n);
        return;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = n;
    char chunk[4096];
    while (inLeft > 0) {
        char* outPtr = chunk;
        std::size_t outLeft = sizeof(chunk);
        std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, sizeof(chunk) - outLeft);
        if (result != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: replace one byte and resume.
        out.push_back('?');
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* outPtr = chunk;
    std::size_t outLeft = sizeof(chunk);
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(chunk, sizeof(chunk) - outLeft);
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string GetSystemCodePage() {
    std::lock_guard<std::mutex> lock(codePageMutex);
    return systemCodePage;
}

void SetSystemCodePage(const std::string& name) {
    std::lock_guard<std::mutex> lock(codePageMutex);
    systemCodePage = name;
    ++codePageGeneration;
}

std::string utf8_to_CString(const std::string& utf8) {
    if (IsAscii(utf8))
        return utf8;
    converters.Refresh();
    std::string out;
    out.reserve(utf8.size());
    ConvertWith(converters.fromUtf8, utf8.data(), utf8.size(), out);
    return out;
}

std::string CString_to_utf8(const std::string& narrow) {
    if (IsAscii(narrow))
        return narrow;
    converters.Refresh();
    std::string out;
    out.reserve(narrow.size() + narrow.size() / 2);
    ConvertWith(converters.toUtf8, narrow.data(), narrow.size(), out);
    return out;
}

std::string CString2MBCS(const std::string& text) { return text; }
std::string MBCS2CString(const std::string& text) { return text; }
std::string string2CString(const std::string& text) { return text; }
std::string Int2CString(int value) { return std::to_string(value); }

CodePageConverter::CodePageConverter(const std::string& from, const std::string& to)
    : handle_(iconv_open(to.c_str(), from.c_str())) {}

CodePageConverter::~CodePageConverter() {
    if (IsValid())
        iconv_close(static_cast<iconv_t>(handle_));
}

bool CodePageConverter::IsValid() const { return static_cast<iconv_t>(handle_) != Invalid(); }

void CodePageConverter::Convert(const char* bytes, std::size_t n, std::string& out) {
    ConvertWith(static_cast<iconv_t>(handle_), bytes, n, out);
}

} // namespace tavi
