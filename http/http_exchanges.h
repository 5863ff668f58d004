// The library's open HTTP exchanges. Each exchange is listed from the moment its worker exists
// until the worker's thread has ended, so that the plug-in's unload can end them all at once and
// then wait until no thread runs the library's code any more.
#pragma once

#include <memory>

#include "host/win_thread.h"

namespace microblog {

struct HttpExchangeLink;

// Ends every open exchange: each waiting caller returns -1 at once and each worker is told to
// quit. New exchanges then fail at once with -1, until AllowHttpExchanges.
void CancelHttpExchanges();
void AllowHttpExchanges();
// Waits, without a bound, until the thread of every exchange listed has ended.
void WaitHttpExchangesEnded();
// Exchanges whose thread has not ended yet.
int OpenHttpExchanges();

// The client's side: lists an exchange before its thread starts; false when exchanges are
// cancelled. Unlisted again when its thread could not be started.
bool ListHttpExchange(const std::shared_ptr<HttpExchangeLink>& link, const tavi::CWinThread::Handle& thread);
void UnlistHttpExchange(const std::shared_ptr<HttpExchangeLink>& link);

} // namespace microblog
