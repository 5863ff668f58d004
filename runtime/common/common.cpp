// Common helpers of the host: folder, digests, the integer byte form and small system calls.
#include <malloc.h>
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "host/common.h"
#include "runtime/common/runtime_settings.h"

namespace tavi {
namespace {

std::mutex stateMutex;
std::string appPath = "./";
std::set<void*> msgInstances;
std::vector<runtime::OpenedWeb> openedWebs;
std::function<void(const std::string&)> webOpener;

} // namespace

namespace runtime {

void SetAppPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(stateMutex);
    appPath = path.empty() ? std::string("./") : path;
    if (appPath.back() != '/')
        appPath.push_back('/');
}

std::vector<OpenedWeb> GetOpenedWebs() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return openedWebs;
}

void ClearOpenedWebs() {
    std::lock_guard<std::mutex> lock(stateMutex);
    openedWebs.clear();
}

} // namespace runtime

std::string GetAppPath() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return appPath;
}

bool IsFileExist(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

std::string GetMD5(const std::string& bytes) {
    // The digest's implementation is looked up once for the process (asked for by its legacy
    // handle, the library would look it up under its lock on every call), and each thread keeps
    // one context to compute it in. Both are kept to the end.
    static const EVP_MD* const md5 = [] {
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "MD5", nullptr);
        return fetched != nullptr ? fetched : EVP_md5();
    }();
    struct Context {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        ~Context() { EVP_MD_CTX_free(ctx); }
    };
    thread_local Context context;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    bool done = context.ctx != nullptr && EVP_DigestInit_ex2(context.ctx, md5, nullptr) == 1 &&
                EVP_DigestUpdate(context.ctx, bytes.data(), bytes.size()) == 1 &&
                EVP_DigestFinal_ex(context.ctx, digest, &length) == 1;
    if (!done)
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, md5, nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

std::string base64_encode(const unsigned char* bytes, std::size_t n) {
    std::string out(4 * ((n + 2) / 3), '\0');
    int written = n == 0 ? 0 : EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, static_cast<int>(n));
    out.resize(static_cast<std::size_t>(std::max(written, 0)));
    return out;
}

std::string Int2Bytes(int value) {
    auto v = static_cast<unsigned int>(value);
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

int Bytes2Int(const std::string& bytes) {
    unsigned int v = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        v |= static_cast<unsigned int>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return static_cast<int>(v);
}

void WaitSomeMilliseconds(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void MinimizeDownMemory() { malloc_trim(0); }

void RegisterMsgInstance(void* instance) {
    std::lock_guard<std::mutex> lock(stateMutex);
    msgInstances.insert(instance);
}

void UnRegisterMsgInstance(void* instance) {
    std::lock_guard<std::mutex> lock(stateMutex);
    msgInstances.erase(instance);
}

bool IsMsgInstanceRegistered(void* instance) {
    std::lock_guard<std::mutex> lock(stateMutex);
    return msgInstances.count(instance) != 0;
}

void SafeOpenWeb(const std::string& url, int mode) {
    std::function<void(const std::string&)> opener;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        openedWebs.push_back({url, mode});
        opener = webOpener;
    }
    if (opener)
        opener(url);
}

namespace runtime {
void SetWebOpener(std::function<void(const std::string& url)> opener) {
    std::lock_guard<std::mutex> lock(stateMutex);
    webOpener = std::move(opener);
}
} // namespace runtime

} // namespace tavi
