// The host's Common library: application folder, text conversion between the system code page and
// UTF-8, digests, the integer byte form, the string table and small system helpers.
#pragma once

#include <cstdint>
#include <string>

namespace tavi {

// The host folder, always ending in '/'.
std::string GetAppPath();
bool IsFileExist(const std::string& path);

// Narrow text in memory is in the system code page. GB18030 by default; "CP936" may be chosen.
std::string GetSystemCodePage();
void SetSystemCodePage(const std::string& name);

// Conversions at the borders. Bytes that do not convert are replaced by '?', so a bad byte in a
// reply never drops the rest of the text.
std::string utf8_to_CString(const std::string& utf8);
std::string CString_to_utf8(const std::string& narrow);
// In this host CString and MBCS text are both narrow text in the system code page.
std::string CString2MBCS(const std::string& text);
std::string MBCS2CString(const std::string& text);
std::string string2CString(const std::string& text);
std::string Int2CString(int value);

// Converter kept open across many strings (one iconv descriptor), for bulk conversion.
class CodePageConverter {
public:
    CodePageConverter(const std::string& from, const std::string& to);
    ~CodePageConverter();
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;
    // Appends the conversion of [bytes, bytes + n) to out.
    void Convert(const char* bytes, std::size_t n, std::string& out);
    std::string Convert(const std::string& text) {
        std::string out;
        Convert(text.data(), text.size(), out);
        return out;
    }
    bool IsValid() const;

private:
    void* handle_;
};

// Lower-case hexadecimal MD5 of the bytes.
std::string GetMD5(const std::string& bytes);
std::string base64_encode(const unsigned char* bytes, std::size_t n);
inline std::string base64_encode(const std::string& bytes) {
    return base64_encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The integer byte form of Property values: 4 bytes, little-endian. Bytes2Int of fewer than four
// bytes reads the ones present.
std::string Int2Bytes(int value);
int Bytes2Int(const std::string& bytes);

void WaitSomeMilliseconds(int milliseconds);
// Returns unused heap memory to the system.
void MinimizeDownMemory();

// The plug-in's message-instance registration (the library's resource handle on the messenger).
void RegisterMsgInstance(void* instance);
void UnRegisterMsgInstance(void* instance);
bool IsMsgInstanceRegistered(void* instance);

// Opens an address in the user's web browser. The mode is the host's (3: a new browser window).
void SafeOpenWeb(const std::string& url, int mode);

// The multi-language string table.
class CMutiLanSupport {
public:
    // Localised text of a string id, in the system code page; empty when the id is unknown.
    static std::string GetStringViaID(const std::string& id);
};

} // namespace tavi
