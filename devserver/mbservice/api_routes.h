// The REST interface of the service on an HTTP server: every call's signature is verified before
// its endpoint runs; the web pages of the users and the pictures of the short links are served too.
#pragma once

#include <string>

#include <httplib.h>

#include "devserver/mbservice/microblog.h"
#include "devserver/mbservice/oauth_verifier.h"

namespace mbservice {

struct RouteSettings {
    bool refuseActivation = false;
    bool secure = false; // served over TLS: clients sign "https://" addresses
};

// The signed view of an HTTP request: its method, the base URI from the Host header (the local
// port added when the header names none, as clients that sign "http://host:port/" write only the
// host) and the raw path, and the parameters of the query and of a form body; secure names the
// https scheme and its default port. False, with the reason in error, for a request that cannot be read.
bool ReadSignedRequest(const httplib::Request& request, SignedRequest& out, std::string& error,
                       bool secure = false);

void RegisterRoutes(httplib::Server& server, Microblog& microblog, RouteSettings settings);

} // namespace mbservice
