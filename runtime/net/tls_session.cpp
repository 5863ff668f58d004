#include "runtime/net/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

#include "host/xcomm.h"

namespace tavi::runtime {
namespace {

// Loading the system's authorities costs milliseconds, more than a whole exchange on a near
// server: one context per authority file is made once and shared by every connection (a context
// may be used from many threads). A file that changes on disk gets a new context.
struct ContextKey {
    std::string file;
    std::int64_t modified = 0;
    std::int64_t size = 0;
    bool operator<(const ContextKey& other) const {
        return std::tie(file, modified, size) < std::tie(other.file, other.modified, other.size);
    }
};

std::mutex contextsMutex;
std::map<ContextKey, SSL_CTX*> contexts;

SSL_CTX* MakeContext(const std::string& authorityFile) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    // Send may hand over a request in parts and retry from the socket object's own queue.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Records are taken from the socket in large reads rather than header and body apart; what is
    // read beyond one record waits in the session (Pending) for the next Read.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_default_read_buffer_len(context, std::size_t{64} * 1024);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    int loaded = authorityFile.empty()
                     ? SSL_CTX_set_default_verify_paths(context)
                     : SSL_CTX_load_verify_locations(context, authorityFile.c_str(), nullptr);
    if (loaded != 1) {
        SSL_CTX_free(context);
        return nullptr;
    }
    // libcrypto decodes a certificate's extensions the first time a verification needs them and
    // afterwards reads them without taking the certificate's lock. Two handshakes verifying against
    // the same authority at once would race on that first decoding, so every trusted certificate
    // is decoded here, while the context is still this thread's alone.
    STACK_OF(X509_OBJECT)* trusted = X509_STORE_get0_objects(SSL_CTX_get_cert_store(context));
    for (int i = 0; i < sk_X509_OBJECT_num(trusted); ++i)
        if (X509* certificate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(trusted, i)))
            X509_check_purpose(certificate, -1, 0);
    return context;
}

SSL_CTX* ContextFor(const std::string& authorityFile) {
    ContextKey key{authorityFile};
    if (!authorityFile.empty()) {
        struct stat info {};
        if (stat(authorityFile.c_str(), &info) != 0)
            return nullptr;
        key.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        key.size = static_cast<std::int64_t>(info.st_size);
    }
    std::lock_guard<std::mutex> lock(contextsMutex);
    auto found = contexts.find(key);
    if (found != contexts.end())
        return found->second;
    SSL_CTX* context = MakeContext(authorityFile);
    if (context != nullptr)
        contexts.emplace(key, context);
    return context;
}

// The socket as OpenSSL sees it. The library's own socket BIO writes with write(), which raises
// SIGPIPE on a connection the peer has closed; the host never lets a socket signal the process.
int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int SocketWrite(BIO* bio, const char* bytes, int length) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(SocketOf(bio), bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* buffer, int length) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::recv(SocketOf(bio), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long SocketControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tavi socket");
        if (made != nullptr) {
            BIO_meth_set_write(made, SocketWrite);
            BIO_meth_set_read(made, SocketRead);
            BIO_meth_set_ctrl(made, SocketControl);
            BIO_meth_set_create(made, SocketCreate);
        }
        return made;
    }();
    return method;
}

bool IsNumericAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

std::unique_ptr<TlsSession> TlsSession::Create(int fd, const std::string& host,
                                               const std::string& authorityFile, int* error) {
    *error = kXCommErrorTls;
    SSL_CTX* context = ContextFor(authorityFile);
    if (context == nullptr || host.empty())
        return nullptr;
    SSL* ssl = SSL_new(context);
    if (ssl == nullptr)
        return nullptr;
    std::unique_ptr<TlsSession> session(new TlsSession(ssl));
    bool named;
    if (IsNumericAddress(host)) {
        // An address is checked against the certificate's address entries and is never sent as a name.
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    } else {
        named = SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 && SSL_set1_host(ssl, host.c_str()) == 1;
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    }
    BIO* socket = SocketMethod() != nullptr ? BIO_new(SocketMethod()) : nullptr;
    if (!named || socket == nullptr) {
        BIO_free(socket);
        return nullptr;
    }
    BIO_set_data(socket, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(ssl, socket, socket);
    SSL_set_connect_state(ssl);
    *error = 0;
    return session;
}

TlsSession::~TlsSession() {
    SSL_free(ssl_);
}

TlsSession::Io TlsSession::Outcome(int rc, bool handshake) {
    int reason = SSL_get_error(ssl_, rc);
    switch (reason) {
    case SSL_ERROR_WANT_READ:
        return Io::kWantRead;
    case SSL_ERROR_WANT_WRITE:
        return Io::kWantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Io::kClosed;
    case SSL_ERROR_SYSCALL:
        // errno 0 here is the peer closing the socket without ending the stream: a cut, not an end.
        error_ = errno != 0 ? errno : ECONNRESET;
        break;
    default:
        error_ = handshake ? kXCommErrorTls : ECONNRESET;
        break;
    }
    if (handshake && SSL_get_verify_result(ssl_) != X509_V_OK)
        error_ = kXCommErrorCertificate;
    // After a broken stream the library must not be asked to end it properly.
    ended_ = true;
    ERR_clear_error();
    return Io::kFailed;
}

TlsSession::Io TlsSession::Handshake() {
    if (established_)
        return Io::kDone;
    ERR_clear_error();
    errno = 0;
    int rc = SSL_do_handshake(ssl_);
    if (rc != 1)
        return Outcome(rc, true);
    // The verification callback is the library's own, which refuses a failed chain; this is the
    // second look that no setting above can have turned off.
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    bool verified = certificate != nullptr && SSL_get_verify_result(ssl_) == X509_V_OK;
    X509_free(certificate);
    if (!verified) {
        error_ = kXCommErrorCertificate;
        return Io::kFailed;
    }
    established_ = true;
    return Io::kDone;
}

TlsSession::Io TlsSession::Read(char* buffer, std::size_t length, std::size_t* count) {
    ERR_clear_error();
    errno = 0;
    std::size_t n = 0;
    int rc = SSL_read_ex(ssl_, buffer, length, &n);
    if (rc == 1) {
        *count = n;
        return Io::kDone;
    }
    return Outcome(rc, false);
}

TlsSession::Io TlsSession::Write(const char* bytes, std::size_t length, std::size_t* count) {
    ERR_clear_error();
    errno = 0;
    std::size_t n = 0;
    int rc = SSL_write_ex(ssl_, bytes, length, &n);
    if (rc == 1) {
        *count = n;
        return Io::kDone;
    }
    return Outcome(rc, false);
}

bool TlsSession::Pending() const {
    return SSL_has_pending(ssl_) == 1;
}

void TlsSession::Shutdown() {
    if (!established_ || ended_)
        return;
    ended_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

} // namespace tavi::runtime
