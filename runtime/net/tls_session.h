// The client's side of TLS on one non-blocking socket: the handshake, with the server's certificate
// checked against the trusted authorities and the host name the caller asked for, then reads and
// writes of the plain bytes. The socket object does the waiting; each call here does what it can
// without blocking and says what it needs next.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

using SSL = struct ssl_st;

namespace tavi::runtime {

class TlsSession {
public:
    enum class Io { kDone, kWantRead, kWantWrite, kClosed, kFailed };

    // A session over fd for host (a name, sent as the server name, or a numeric address), trusting
    // the authorities of authorityFile (PEM) or, when it is empty, the system's. Null, with a code
    // of host/xcomm.h in *error, when the authorities cannot be loaded.
    static std::unique_ptr<TlsSession> Create(int fd, const std::string& host,
                                              const std::string& authorityFile, int* error);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Advances the handshake; kDone once the protected stream is up and the certificate verified.
    Io Handshake();
    // Plain bytes in and out; *count is set when kDone. kClosed: the server ended the stream
    // properly. kFailed: the stream broke or was cut short (see Error).
    Io Read(char* buffer, std::size_t length, std::size_t* count);
    Io Write(const char* bytes, std::size_t length, std::size_t* count);
    // Bytes already taken from the socket that Read can hand out without the socket being readable.
    bool Pending() const;
    // Tells the server the stream ends, as far as the socket takes it without waiting.
    void Shutdown();
    // The code of the last kFailed: kXCommErrorCertificate, kXCommErrorTls or an errno value.
    int Error() const { return error_; }

private:
    explicit TlsSession(SSL* ssl) : ssl_(ssl) {}
    Io Outcome(int rc, bool handshake);

    SSL* ssl_;
    bool established_ = false;
    bool ended_ = false;
    int error_ = 0;
};

} // namespace tavi::runtime
