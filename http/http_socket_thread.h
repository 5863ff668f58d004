// The thread that carries one HTTP exchange: it owns one connection of the host's socket library,
// writes the request, decodes the reply as its events arrive through the thread's own message
// loop, and hands status and body to the waiting client as it ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/global_helper.h"
#include "host/win_thread.h"
#include "host/xcomm.h"
#include "http/http_response_decoder.h"

namespace microblog {

class HttpClient;

// What the client and its worker share. The worker may end (and free itself) at any moment, and
// the client may stop waiting at any moment, so both reach each other only through this record,
// under its lock.
struct HttpExchangeLink {
    std::mutex mutex;
    // Where the result goes; the client clears it when it stops waiting.
    HttpClient* holder = nullptr;
    // The worker's thread, known once the thread runs, so that the client can post it the quit.
    tavi::ThreadId thread = 0;
    // The reply is complete and about to be handed over: the client no longer gives up.
    bool responseComplete = false;
    // The worker has handed over what it had and touches the client no more.
    bool workerGone = false;
    // The library is unloading: the client stops waiting at once.
    bool cancelled = false;
    // Counts the request's write and every read that brought bytes. The worker counts without the
    // lock; the client, each time it wakes, takes a change as the server's sign of life.
    std::atomic<std::uint64_t> activity{0};
    // Signalled when workerGone or cancelled is set.
    std::condition_variable changed;
};

class CHttpSocketThread : public tavi::CWinThread, public tavi::IXCommSink {
public:
    // Takes the connection object, which must not be null; the worker releases it.
    explicit CHttpSocketThread(tavi::IXComm* comm);
    ~CHttpSocketThread() override;

    void Configure(std::shared_ptr<HttpExchangeLink> link, HttpClient* holder, const std::string& url,
                   const tavi::ProxyCfg& proxy, bool isPost, const std::string& postBody);
    // The authorities an https server's certificate must chain to (a PEM file); empty: the system's.
    void SetAuthorityFile(const std::string& path) { authorityFile_ = path; }

    bool InitInstance() override;
    int Run() override;
    bool IsDone() const override { return done_ != 0; }

    // Socket events; they arrive on the worker's thread while its loop dispatches messages.
    void OnClose(int error) override;
    void OnConnect(int error) override;
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnOutOfBandData(int error) override;

    // Consecutive failed reads a connection survives; the next one ends it.
    static constexpr int kReadErrorsTolerated = 4;

private:
    void WriteRequest();
    void TakeRead();
    void FinishExchange();
    void FailExchange();
    void CloseComm();
    void NoteActivity();

    tavi::IXComm* comm_;
    std::string url_;
    int done_ = 0;
    tavi::ProxyCfg proxy_;
    char receiveBuffer_[1024];
    std::vector<char> requestBuffer_;
    int requestLength_ = -1;
    std::string responseBody_;
    int finished_ = 0;
    HttpResponseDecoder decoder_;
    int receivedCount_ = 0;
    // Held while one read is taken and decoded.
    std::mutex lock_;
    std::shared_ptr<HttpExchangeLink> link_;
    int isPost_ = 0;
    std::string postBody_;
    std::string authorityFile_;
    int readErrors_ = 0;
    bool detachedAtStart_ = false;
};

} // namespace microblog
