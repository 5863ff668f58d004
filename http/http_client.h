// The caller's side of one HTTP exchange: a synchronous Get or Post, made from a host worker
// thread, that runs the exchange on a CHttpSocketThread and waits for it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/global_helper.h"
#include "host/xcomm.h"

namespace microblog {

struct HttpClientLimits {
    // How long to wait for the connection while nothing has been written.
    int connectWaitMs = 15000;
    // Once the request is written: how long the server may send nothing at all.
    int inactivityMs = 60000;
    // The wait's step; the wait still ends as soon as the worker does.
    int waitStepMs = 200;
    // The whole exchange, however the server paces its bytes: a reply trickled out byte by byte
    // must not hold a worker thread for ever.
    int overallMs = 120000;
};

class HttpClient {
public:
    using CommFactory = std::function<tavi::IXComm*()>;

    HttpClient();
    explicit HttpClient(const HttpClientLimits& limits);

    // Both return the HTTP status of a complete reply; -1 when no complete reply was handed over
    // (no connection, no answer in time, a reply that failed to decode, a connection closed
    // early, the exchanges cancelled by the library's unload); 0 when url is empty or the worker
    // could not be made. responseBody receives the body whenever the worker ended while this call
    // waited, and is left alone otherwise.
    int Get(const tavi::ProxyCfg& proxy, const std::string& url, std::string& responseBody);
    int Post(const tavi::ProxyCfg& proxy, const std::string& url, const std::string& body,
             std::string& responseBody);

    // Where the connection object comes from (the host's IXComm_Creater unless set).
    void SetCommFactory(CommFactory factory) { commFactory_ = std::move(factory); }
    // For https addresses: the PEM file of the authorities the server's certificate must chain
    // to, instead of the system's (empty: the system's).
    void SetAuthorityFile(const std::string& path) { authorityFile_ = path; }

    // The limits new clients start with; the defaults are 15 s, 60 s, 200 ms steps and 120 s.
    static void SetDefaultLimits(const HttpClientLimits& limits);
    static HttpClientLimits DefaultLimits();

private:
    friend class CHttpSocketThread;

    int Exchange(const tavi::ProxyCfg& proxy, const std::string& url, bool isPost, const std::string& body,
                 std::string& responseBody);

    // Written by the worker under the exchange's lock.
    std::string responseBody_;
    int statusCode_ = -1;
    int requestSent_ = 0;

    HttpClientLimits limits_;
    CommFactory commFactory_;
    std::string authorityFile_;
};

// Milliseconds of the steady clock, the time base of the exchange's limits.
std::int64_t HttpNowMs();

} // namespace microblog
