// microblog-tool sign: signs a request as the service's workers do, with a given time and nonce.
#include <iostream>

#include "host/common.h"
#include "service/deployment.h"
#include "service/oauth.h"
#include "service/settings.h"
#include "tools/tool_command.h"

namespace {

int RunSign(const std::vector<std::string>& args) {
    microblog::OAuthSigner signer;
    signer.apiRoot = microblog::Deployment().apiRoot;
    signer.consumerKey = microblog::kConsumerKey;
    signer.consumerSecret = microblog::kConsumerSecret;
    std::string method, path, timestamp;
    long long counter = -1;
    bool withToken = false;
    microblog::RequestParams params;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                std::cerr << "sign: " << arg << " needs a value\n";
                std::exit(2);
            }
            return args[++i];
        };
        if (arg == "--method")
            method = value();
        else if (arg == "--path")
            path = value();
        else if (arg == "--timestamp")
            timestamp = value();
        else if (arg == "--nonce-counter")
            counter = std::atoll(value().c_str());
        else if (arg == "--token") {
            signer.token = value();
            withToken = true;
        } else if (arg == "--token-secret")
            signer.tokenSecret = value();
        else if (arg == "--api-root") {
            signer.apiRoot = value();
            if (signer.apiRoot.empty() || signer.apiRoot.back() != '/')
                signer.apiRoot.push_back('/');
        } else if (arg.find('=') != std::string::npos && arg.rfind("--", 0) != 0) {
            std::size_t equals = arg.find('=');
            // Values on the command line are UTF-8; the workers hold them in the system code page.
            params.emplace(arg.substr(0, equals), tavi::utf8_to_CString(arg.substr(equals + 1)));
        } else {
            std::cerr << "sign: unknown argument " << arg << "\n";
            return 2;
        }
    }
    if ((method != "GET" && method != "POST") || path.empty() || timestamp.empty() || counter < 0) {
        std::cerr << "sign: give --method GET|POST, --path, --timestamp and --nonce-counter\n";
        return 2;
    }
    microblog::OAuthParamMap map;
    microblog::AddRequestParams(map, signer, params);
    std::string base;
    std::string query = microblog::BuildSignedQuery(map, signer, method + "&", path, withToken, timestamp,
                                                    microblog::MakeNonce(static_cast<unsigned>(counter)), &base);
    std::cout << "base: " << base << "\nquery: " << query << "\n";
    return 0;
}

tools::ToolRegistration signRegistration{
    {"sign",
     "sign --method GET|POST --path PATH --timestamp N --nonce-counter C [--token T --token-secret S] "
     "[--api-root URL] [name=value ...]",
     RunSign}};

} // namespace
