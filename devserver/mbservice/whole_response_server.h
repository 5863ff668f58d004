// An HTTP server that hands each response to the socket in one write. Clients of the messenger
// take the first read that follows the header block as the whole of a short response, so the body
// must travel in the same segment as the headers; cpp-httplib alone writes them separately. With a
// certificate it serves HTTPS, each response then going out as one TLS write.
#pragma once

#include <httplib.h>

#include <string>

using SSL_CTX = struct ssl_ctx_st;

namespace mbservice {

class WholeResponseServer : public httplib::Server {
public:
    WholeResponseServer() = default;
    ~WholeResponseServer() override;
    WholeResponseServer(const WholeResponseServer&) = delete;
    WholeResponseServer& operator=(const WholeResponseServer&) = delete;

    // Serves HTTPS from now on with the certificate chain and key (PEM files); false, with the
    // reason in error, when they cannot be used together.
    bool UseTls(const std::string& certificateFile, const std::string& keyFile, std::string& error);
    bool Secure() const { return tls_ != nullptr; }

private:
    SSL_CTX* tls_ = nullptr;

    // Runs the keep-alive loop of one connection on a stream that collects each response and sends
    // it when the request has been answered (or before the server waits to read more).
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace mbservice
