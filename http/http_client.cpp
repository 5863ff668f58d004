#include "http/http_client.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "http/http_exchanges.h"
#include "http/http_socket_thread.h"

namespace microblog {
namespace {

std::mutex defaultLimitsMutex;
HttpClientLimits defaultLimits;

} // namespace

std::int64_t HttpNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void HttpClient::SetDefaultLimits(const HttpClientLimits& limits) {
    std::lock_guard<std::mutex> lock(defaultLimitsMutex);
    defaultLimits = limits;
}

HttpClientLimits HttpClient::DefaultLimits() {
    std::lock_guard<std::mutex> lock(defaultLimitsMutex);
    return defaultLimits;
}

HttpClient::HttpClient() : limits_(DefaultLimits()) {}

HttpClient::HttpClient(const HttpClientLimits& limits) : limits_(limits) {}

int HttpClient::Get(const tavi::ProxyCfg& proxy, const std::string& url, std::string& responseBody) {
    return Exchange(proxy, url, false, std::string(), responseBody);
}

int HttpClient::Post(const tavi::ProxyCfg& proxy, const std::string& url, const std::string& body,
                     std::string& responseBody) {
    return Exchange(proxy, url, true, body, responseBody);
}

int HttpClient::Exchange(const tavi::ProxyCfg& proxy, const std::string& url, bool isPost,
                         const std::string& body, std::string& responseBody) {
    statusCode_ = -1;
    requestSent_ = 0;
    responseBody_.clear();
    if (url.empty())
        return 0;
    tavi::IXComm* comm = commFactory_ ? commFactory_() : tavi::IXComm_Creater();
    if (comm == nullptr)
        return 0;
    auto* worker = new (std::nothrow) CHttpSocketThread(comm);
    if (worker == nullptr) {
        comm->Uninitialize();
        comm->Release();
        return 0;
    }
    auto link = std::make_shared<HttpExchangeLink>();
    worker->Configure(link, this, url, proxy, isPost, body);
    worker->SetAuthorityFile(authorityFile_);
    if (!ListHttpExchange(link, worker->GetHandle())) {
        delete worker;
        return -1;
    }
    std::int64_t start = HttpNowMs();
    if (!worker->CreateThread()) {
        UnlistHttpExchange(link);
        delete worker;
        return 0;
    }
    // From here on the worker may end and free itself at any moment: only the link is used.
    int step = limits_.waitStepMs > 0 ? limits_.waitStepMs : 1;
    bool ended = false;
    // When the client last saw the worker's activity count change.
    std::uint64_t seenActivity = 0;
    std::int64_t lastActivityMs = start;
    std::unique_lock<std::mutex> lock(link->mutex);
    for (;;) {
        if (link->workerGone) {
            ended = true;
            break;
        }
        // The unload that cancelled the exchange has detached this client and told the worker to quit.
        if (link->cancelled)
            break;
        if (!link->responseComplete) {
            std::int64_t now = HttpNowMs();
            std::uint64_t activity = link->activity.load(std::memory_order_relaxed);
            if (activity != seenActivity) {
                seenActivity = activity;
                lastActivityMs = now;
            }
            bool giveUp = now - start > limits_.overallMs ||
                          (requestSent_ == 0 ? now - start > limits_.connectWaitMs
                                             : now - lastActivityMs > limits_.inactivityMs);
            if (giveUp) {
                link->holder = nullptr;
                if (link->thread != 0)
                    tavi::PostThreadMessageA(link->thread, tavi::WM_QUIT, 0, 0);
                break;
            }
        }
        link->changed.wait_for(lock, std::chrono::milliseconds(step));
    }
    lock.unlock();
    if (ended)
        responseBody = std::move(responseBody_);
    return statusCode_;
}

} // namespace microblog
