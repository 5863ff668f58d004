// microblog-tool commands over the transport: one GET or POST through HttpClient, printing the
// status it returned (an HTTP status, -1 or 0) alone on the first line and then the body bytes
// exactly as handed over. --proxy sends the exchange through an HTTP CONNECT or SOCKS5 proxy;
// --ca-file names the authorities an https server's certificate must chain to.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "host/global_helper.h"
#include "http/http_client.h"
#include "runtime/net/proxy_settings.h"
#include "tools/tool_command.h"

namespace {

// Splits off "--proxy URL" and "--ca-file FILE" (anywhere among the arguments); false, with a
// message, when one is bad.
bool ReadArguments(const std::vector<std::string>& args, std::vector<std::string>& positional,
                   tavi::ProxyCfg& proxy, microblog::HttpClient& client) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--proxy" && args[i] != "--ca-file") {
            positional.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size()) {
            std::cerr << "microblog-tool: " << args[i] << " needs a value\n";
            return false;
        }
        if (args[i] == "--ca-file") {
            client.SetAuthorityFile(args[++i]);
            continue;
        }
        std::string error;
        if (!tavi::runtime::ParseProxyUrl(args[++i], proxy, &error)) {
            std::cerr << "microblog-tool: " << error << "\n";
            return false;
        }
    }
    return true;
}

int Print(int status, const std::string& body) {
    std::printf("%d\n", status);
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::fflush(stdout);
    return status > 0 ? 0 : 1;
}

int RunGet(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    tavi::ProxyCfg proxy;
    microblog::HttpClient client;
    if (!ReadArguments(args, positional, proxy, client))
        return 2;
    if (positional.size() != 1) {
        std::cerr << "usage: microblog-tool get URL [--proxy PROXY] [--ca-file FILE]\n";
        return 2;
    }
    std::string body;
    int status = client.Get(proxy, positional[0], body);
    return Print(status, body);
}

int RunPost(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    tavi::ProxyCfg proxy;
    microblog::HttpClient client;
    if (!ReadArguments(args, positional, proxy, client))
        return 2;
    if (positional.size() != 2) {
        std::cerr << "usage: microblog-tool post URL BODY [--proxy PROXY] [--ca-file FILE]\n";
        return 2;
    }
    std::string body;
    int status = client.Post(proxy, positional[0], positional[1], body);
    return Print(status, body);
}

const tools::ToolRegistration getCommand{
    {"get", "get URL [--proxy http://[USER:PASSWORD@]HOST:PORT | socks5://...] [--ca-file FILE]", RunGet}};
const tools::ToolRegistration postCommand{
    {"post", "post URL BODY [--proxy http://[USER:PASSWORD@]HOST:PORT | socks5://...] [--ca-file FILE]",
     RunPost}};

} // namespace
