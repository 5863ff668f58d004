#include "http/http_exchanges.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "http/http_socket_thread.h"

namespace microblog {
namespace {

struct ListedExchange {
    std::shared_ptr<HttpExchangeLink> link;
    tavi::CWinThread::Handle thread;
};

// Guards the list and the cancelled state.
std::mutex exchangesMutex;
std::vector<ListedExchange> exchanges;
bool cancelled = false;

// Exchanges whose thread has ended can no longer run anything; called with the lock held.
void DropEnded() {
    std::erase_if(exchanges, [](const ListedExchange& listed) { return listed.thread.HasEnded(); });
}

} // namespace

bool ListHttpExchange(const std::shared_ptr<HttpExchangeLink>& link, const tavi::CWinThread::Handle& thread) {
    std::lock_guard<std::mutex> lock(exchangesMutex);
    if (cancelled)
        return false;
    DropEnded();
    exchanges.push_back(ListedExchange{link, thread});
    return true;
}

void UnlistHttpExchange(const std::shared_ptr<HttpExchangeLink>& link) {
    std::lock_guard<std::mutex> lock(exchangesMutex);
    std::erase_if(exchanges, [&](const ListedExchange& listed) { return listed.link == link; });
}

void CancelHttpExchanges() {
    std::lock_guard<std::mutex> lock(exchangesMutex);
    cancelled = true;
    for (const ListedExchange& listed : exchanges) {
        HttpExchangeLink& link = *listed.link;
        std::lock_guard<std::mutex> guard(link.mutex);
        link.cancelled = true;
        // Nothing is handed to the caller any more; a worker that has not run yet ends at its start.
        link.holder = nullptr;
        if (link.thread != 0)
            tavi::PostThreadMessageA(link.thread, tavi::WM_QUIT, 0, 0);
        link.changed.notify_all();
    }
}

void AllowHttpExchanges() {
    std::lock_guard<std::mutex> lock(exchangesMutex);
    cancelled = false;
}

void WaitHttpExchangesEnded() {
    for (;;) {
        tavi::CWinThread::Handle next;
        {
            std::lock_guard<std::mutex> lock(exchangesMutex);
            DropEnded();
            if (exchanges.empty())
                return;
            next = exchanges.front().thread;
        }
        next.WaitFor(100);
    }
}

int OpenHttpExchanges() {
    std::lock_guard<std::mutex> lock(exchangesMutex);
    DropEnded();
    return static_cast<int>(exchanges.size());
}

} // namespace microblog
