// An HTTP server that hands each response to the socket in one write. Clients of the messenger
// take the first read that follows the header block as the whole of a short response, so the body
// must travel in the same segment as the headers; cpp-httplib alone writes them separately.
#pragma once

#include <httplib.h>

namespace mbservice {

class WholeResponseServer : public httplib::Server {
private:
    // Runs the keep-alive loop of one connection on a stream that collects each response and sends
    // it when the request has been answered (or before the server waits to read more).
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace mbservice
