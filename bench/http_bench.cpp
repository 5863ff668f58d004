// A GET of a 100 KB body from a loopback server, one connection per request: HttpClient with its
// socket thread against libcurl's easy interface with a new handle per request, and against the
// floor, a plain blocking socket that writes the same request and reads the whole reply into one
// buffer, in the same run, against the same server; the same plain exchange on a new thread per
// request shows what the thread per exchange costs by itself. The same GET over HTTPS (a full TLS
// handshake per request, the server's certificate verified against an authority file) compares
// HttpClient with libcurl. The server runs on a CPU of its own; each client runs on another one
// (HttpClient's worker threads inherit the benchmark thread's CPU).
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "host/global_helper.h"
#include "http/http_client.h"
#include "http/http_request.h"
#include "http/http_url.h"

namespace {

constexpr std::size_t kBodyBytes = std::size_t{100} * 1024;

// Pins the calling thread to one CPU when the machine has more than one.
void PinToCpu(int cpu) {
    if (std::thread::hardware_concurrency() < 2)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

// A self-signed certificate for 127.0.0.1 that is its own authority, with its key; the authority
// is written to a temporary file for the clients.
struct BenchCertificate {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    std::string authorityFile;

    BenchCertificate() {
        key = EVP_EC_gen("P-256");
        cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_set_pubkey(cert, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, X509_get_subject_name(cert));
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
        for (auto [nid, value] : {std::pair{NID_basic_constraints, "critical,CA:TRUE"},
                                  std::pair{NID_subject_alt_name, "IP:127.0.0.1"}}) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
            X509_add_ext(cert, extension, -1);
            X509_EXTENSION_free(extension);
        }
        X509_sign(cert, key, EVP_sha256());
        char path[] = "/tmp/http_bench_authority_XXXXXX";
        int fd = mkstemp(path);
        FILE* out = fd >= 0 ? fdopen(fd, "w") : nullptr;
        if (out) {
            PEM_write_X509(out, cert);
            std::fclose(out);
            authorityFile = path;
        }
    }
    ~BenchCertificate() {
        if (!authorityFile.empty())
            unlink(authorityFile.c_str());
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

// Serves every connection with the same reply: it reads the request's header block, writes the
// reply, and closes once the client has closed its end. With a certificate it speaks TLS.
class ReplyServer {
public:
    explicit ReplyServer(std::string reply, const BenchCertificate* certificate = nullptr)
        : reply_(std::move(reply)) {
        if (certificate) {
            tls_ = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate(tls_, certificate->cert);
            SSL_CTX_use_PrivateKey(tls_, certificate->key);
        }
        stopFd_ = eventfd(0, EFD_CLOEXEC);
        listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listenFd_, 64) != 0)
            std::perror("http_bench: loopback server");
        socklen_t length = sizeof(address);
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            PinToCpu(1);
            Serve();
        });
    }
    ~ReplyServer() {
        std::uint64_t one = 1;
        if (write(stopFd_, &one, sizeof(one)) < 0) {
            // Cannot fail for a single write to a fresh eventfd.
        }
        thread_.join();
        close(listenFd_);
        close(stopFd_);
        SSL_CTX_free(tls_);
    }
    std::string Url() const {
        return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
               "/statuses/home_timeline.json";
    }
    long Served() const { return served_.load(); }
    std::size_t ReplySize() const { return reply_.size(); }
    std::uint16_t Port() const { return port_; }

private:
    void Serve() {
        char buffer[8192];
        for (;;) {
            pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
                return;
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            if (tls_) {
                ServeTls(fd);
                close(fd);
                ++served_;
                continue;
            }
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t sent = 0;
            while (sent < reply_.size()) {
                ssize_t n = send(fd, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            while (recv(fd, buffer, sizeof(buffer), 0) > 0) {
            }
            close(fd);
            ++served_;
        }
    }

    void ServeTls(int fd) {
        SSL* ssl = SSL_new(tls_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            char buffer[8192];
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                int n = SSL_read(ssl, buffer, sizeof(buffer));
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t written = 0;
            SSL_write_ex(ssl, reply_.data(), reply_.size(), &written);
            while (SSL_read(ssl, buffer, sizeof(buffer)) > 0) {
            }
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
    }

    std::string reply_;
    SSL_CTX* tls_ = nullptr;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<long> served_{0};
};

ReplyServer* server = nullptr;
ReplyServer* tlsServer = nullptr;
std::string authorityFile;

std::string Body() {
    std::string body(kBodyBytes, ' ');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    return body;
}

void HttpClientGet(benchmark::State& state, const ReplyServer* from) {
    PinToCpu(0);
    const std::string url = from->Url();
    const tavi::ProxyCfg proxy;
    for (auto _ : state) {
        microblog::HttpClient client;
        client.SetAuthorityFile(authorityFile);
        std::string body;
        int status = client.Get(proxy, url, body);
        if (status != 200 || body.size() != kBodyBytes) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_HttpClient_Get100K(benchmark::State& state) {
    HttpClientGet(state, server);
}

void BM_HttpClient_Https_Get100K(benchmark::State& state) {
    HttpClientGet(state, tlsServer);
}

std::size_t AppendBody(char* bytes, std::size_t size, std::size_t count, void* into) {
    static_cast<std::string*>(into)->append(bytes, size * count);
    return size * count;
}

void LibcurlGet(benchmark::State& state, const ReplyServer* from) {
    PinToCpu(0);
    const std::string url = from->Url();
    for (auto _ : state) {
        CURL* curl = curl_easy_init();
        std::string body;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, authorityFile.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
        if (code != CURLE_OK || status != 200 || body.size() != kBodyBytes) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_Libcurl_Get100K(benchmark::State& state) {
    LibcurlGet(state, server);
}

void BM_Libcurl_Https_Get100K(benchmark::State& state) {
    LibcurlGet(state, tlsServer);
}

// Connect, one send of the same request bytes, recv into one buffer until the whole reply is in.
bool RawSocketGet(const sockaddr_in& address, const std::string& request, std::string& reply) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::size_t got = 0;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        while (got < reply.size()) {
            ssize_t n = recv(fd, reply.data() + got, reply.size() - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    }
    close(fd);
    return got == reply.size() && reply.compare(0, 12, "HTTP/1.1 200") == 0;
}

// What the floor reads: the server's address and the client's request bytes.
struct RawTarget {
    sockaddr_in address{};
    std::string request;
};

RawTarget MakeRawTarget() {
    auto url = microblog::SplitHttpUrl(server->Url());
    microblog::HttpRequestDescription description;
    description.host = url->host;
    description.path = url->path;
    description.referer = url->referer;
    RawTarget target;
    target.request = microblog::BuildHttpRequest(description);
    target.address.sin_family = AF_INET;
    target.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.address.sin_port = htons(server->Port());
    return target;
}

void BM_RawSocket_Get100K(benchmark::State& state) {
    PinToCpu(0);
    const RawTarget target = MakeRawTarget();
    std::string reply(server->ReplySize(), '\0');
    for (auto _ : state) {
        if (!RawSocketGet(target.address, target.request, reply)) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

// The same plain exchange made on a new thread per request, the caller waiting for it under a lock
// and a condition: the cost of the thread per exchange that HttpClient is built on, and nothing
// else of it. HttpClient's distance from this floor is what its own work adds.
void BM_RawSocketOnNewThread_Get100K(benchmark::State& state) {
    PinToCpu(0);
    const RawTarget target = MakeRawTarget();
    std::string reply(server->ReplySize(), '\0');
    std::mutex mutex;
    std::condition_variable ended;
    for (auto _ : state) {
        bool done = false;
        bool ok = false;
        std::thread([&] {
            bool got = RawSocketGet(target.address, target.request, reply);
            // Notified under the lock: once the caller sees the end, this thread no longer touches
            // the condition, which goes with the function after the last request.
            std::lock_guard<std::mutex> lock(mutex);
            ok = got;
            done = true;
            ended.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(mutex);
        ended.wait(lock, [&] { return done; });
        if (!ok) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

BENCHMARK(BM_HttpClient_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libcurl_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSocket_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawSocketOnNewThread_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HttpClient_Https_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libcurl_Https_Get100K)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::string body = Body();
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
    ReplyServer replies(reply);
    server = &replies;
    BenchCertificate certificate;
    authorityFile = certificate.authorityFile;
    ReplyServer tlsReplies(reply, &certificate);
    tlsServer = &tlsReplies;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server = nullptr;
    tlsServer = nullptr;
    curl_global_cleanup();
    return 0;
}
