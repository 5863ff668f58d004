#include "http/http_socket_thread.h"

#include <cstring>

#include "http/http_client.h"
#include "http/http_request.h"
#include "http/http_url.h"

namespace microblog {

CHttpSocketThread::CHttpSocketThread(tavi::IXComm* comm) : comm_(comm), requestBuffer_(kRequestBufferSize) {
    std::memset(receiveBuffer_, 0, sizeof(receiveBuffer_));
    comm_->SetSink(this);
}

CHttpSocketThread::~CHttpSocketThread() {
    done_ = 1;
    if (link_) {
        {
            // The hand-over, under the same lock as the client's giving up: either the client
            // still waits and gets the result before it sees the thread end, or it has gone and
            // gets nothing.
            std::lock_guard<std::mutex> guard(link_->mutex);
            if (finished_ == 1 && link_->holder) {
                HttpClient* holder = link_->holder;
                holder->requestSent_ = 0;
                holder->responseBody_ = std::move(responseBody_);
                holder->statusCode_ = decoder_.statusCode();
            }
            link_->holder = nullptr;
            link_->workerGone = true;
        }
        // Told once the lock is free, so that the client, woken, does not wait for it again.
        link_->changed.notify_all();
    }
    CloseComm();
    comm_->Uninitialize();
    comm_->Release();
}

void CHttpSocketThread::Configure(std::shared_ptr<HttpExchangeLink> link, HttpClient* holder,
                                  const std::string& url, const tavi::ProxyCfg& proxy, bool isPost,
                                  const std::string& postBody) {
    link_ = std::move(link);
    {
        std::lock_guard<std::mutex> guard(link_->mutex);
        link_->holder = holder;
    }
    url_ = url;
    proxy_ = proxy;
    isPost_ = isPost ? 1 : 0;
    postBody_ = postBody;
}

bool CHttpSocketThread::InitInstance() {
    if (link_) {
        std::lock_guard<std::mutex> guard(link_->mutex);
        link_->thread = tavi::GetCurrentThreadId();
        // A client that gave up before this thread ran could not post it the quit.
        detachedAtStart_ = link_->holder == nullptr;
    }
    return true;
}

int CHttpSocketThread::Run() {
    if (url_.empty() || detachedAtStart_)
        return ExitInstance();
    CloseComm();
    comm_->SetProxy(proxy_);
    auto parts = SplitHttpUrl(url_);
    if (!parts)
        return ExitInstance();
    // An https exchange is refused by the connection itself when the server cannot prove who it
    // is: OnConnect then reports the error and the request is never written.
    comm_->SetSecure(parts->secure, authorityFile_.c_str());
    HttpRequestDescription request;
    request.isPost = isPost_ != 0;
    request.secure = parts->secure;
    request.host = parts->host;
    request.port = parts->port;
    request.path = parts->path;
    request.referer = parts->referer;
    if (request.isPost)
        request.body = postBody_;
    requestLength_ = BuildHttpRequest(request, requestBuffer_);
    // A connection that cannot be made may produce no event; the client's wait limit ends it then.
    comm_->Connect(parts->host.c_str(), parts->port);
    return CWinThread::Run();
}

void CHttpSocketThread::CloseComm() {
    comm_->ShutDown();
    comm_->Close();
}

void CHttpSocketThread::NoteActivity() {
    link_->activity.fetch_add(1, std::memory_order_relaxed);
}

void CHttpSocketThread::OnClose(int) {
    done_ = 1;
    CloseComm();
}

void CHttpSocketThread::OnConnect(int error) {
    if (error != 0) {
        done_ = 1;
        return;
    }
    WriteRequest();
}

void CHttpSocketThread::OnReceive(int error) {
    if (error != 0) {
        done_ = 1;
        return;
    }
    TakeRead();
}

void CHttpSocketThread::OnSend(int error) {
    if (error != 0)
        done_ = 1;
}

void CHttpSocketThread::OnOutOfBandData(int) {}

void CHttpSocketThread::WriteRequest() {
    if (requestLength_ == -1) {
        done_ = 1;
        return;
    }
    if (link_) {
        std::lock_guard<std::mutex> guard(link_->mutex);
        if (link_->holder)
            link_->holder->requestSent_ = 1;
        link_->activity.fetch_add(1, std::memory_order_relaxed);
    }
    comm_->Send(requestBuffer_.data(), requestLength_);
}

void CHttpSocketThread::TakeRead() {
    std::lock_guard<std::mutex> guard(lock_);
    std::memset(receiveBuffer_, 0, sizeof(receiveBuffer_));
    receivedCount_ = comm_->Receive(receiveBuffer_, sizeof(receiveBuffer_), 0);
    if (receivedCount_ < 0) {
        if (readErrors_ >= kReadErrorsTolerated)
            FailExchange();
        else
            ++readErrors_;
        return;
    }
    if (receivedCount_ > 0 && link_)
        NoteActivity();
    switch (decoder_.Decode(receiveBuffer_, receivedCount_)) {
    case HttpResponseDecoder::Result::kContinue:
        readErrors_ = 0;
        break;
    case HttpResponseDecoder::Result::kComplete:
        readErrors_ = 0;
        FinishExchange();
        break;
    case HttpResponseDecoder::Result::kFail:
        FailExchange();
        break;
    }
}

void CHttpSocketThread::FinishExchange() {
    finished_ = 1;
    responseBody_ = decoder_.TakeBody();
    if (link_) {
        std::lock_guard<std::mutex> guard(link_->mutex);
        link_->responseComplete = true;
        if (link_->holder)
            link_->holder->requestSent_ = 0;
    }
    done_ = 1;
}

void CHttpSocketThread::FailExchange() {
    done_ = 1;
    CloseComm();
}

} // namespace microblog
