#include "tests/mbservice/mbservice_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace mbtest {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitReadable(int fd, Clock::time_point deadline) {
    pollfd entry{fd, POLLIN, 0};
    while (true) {
        const int rc = poll(&entry, 1, MillisecondsLeft(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        return rc > 0;
    }
}

// Waits for the child to end, at most boundMs; its exit status, or -1 when it is still running.
int WaitForExit(pid_t pid, int boundMs) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        int rc;
        do {
            rc = poll(&entry, 1, boundMs);
        } while (rc < 0 && errno == EINTR);
        close(pidfd);
        if (rc == 0)
            return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string FreshNonce() {
    static std::atomic<unsigned> counter{0};
    return Md5Hex(std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr)) + "-" +
                  std::to_string(++counter));
}

std::string Base64(const unsigned char* bytes, std::size_t count) {
    std::string out(4 * ((count + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, static_cast<int>(count));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Decode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace

MbServiceProcess::MbServiceProcess(std::vector<std::string> args)
    : scratch_(std::make_unique<testenv::ScratchDir>("mbs")) {
    bool namesPort = false;
    for (const std::string& arg : args)
        namesPort = namesPort || arg == "--port";
    if (!namesPort)
        args.insert(args.begin(), {"--port", "0"});
    const std::string program = std::string(TAVI_BIN_DIR) + "/mbservice";
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string errorLog = scratch_->path() + "/stderr.log";

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out[1], STDOUT_FILENO);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    stdoutFd_ = out[0];
    if (pid_ < 0)
        return;

    // The first line is "port N".
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (line.find('\n') == std::string::npos && WaitReadable(stdoutFd_, deadline)) {
        std::array<char, 256> buffer;
        const ssize_t n = read(stdoutFd_, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        line.append(buffer.data(), static_cast<std::size_t>(n));
    }
    if (line.rfind("port ", 0) == 0)
        port_ = std::atoi(line.c_str() + 5);
}

MbServiceProcess::~MbServiceProcess() {
    Stop();
    if (stdoutFd_ >= 0)
        close(stdoutFd_);
}

int MbServiceProcess::Stop(int boundMs) {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = WaitForExit(pid_, boundMs);
    if (status < 0) {
        kill(pid_, SIGKILL);
        WaitForExit(pid_, boundMs);
    }
    pid_ = -1;
    return status;
}

std::string MbServiceProcess::ErrorLog() const {
    return testenv::ReadFile(scratch_->path() + "/stderr.log");
}

std::string HttpReply::Header(const std::string& name) const {
    const std::string wanted = "\r\n" + name + ":";
    std::size_t at = head.find(wanted);
    if (at == std::string::npos)
        return {};
    at += wanted.size();
    while (at < head.size() && head[at] == ' ')
        ++at;
    return head.substr(at, head.find("\r\n", at) - at);
}

nlohmann::json HttpReply::Json() const {
    return nlohmann::json::parse(body, nullptr, false);
}

HttpReply Exchange(int port, const std::string& request, int boundMs) {
    HttpReply reply;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return reply;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return reply;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string bytes;
    bool first = true;
    std::size_t headEnd = std::string::npos;
    std::size_t wanted = std::string::npos;
    while (WaitReadable(fd, deadline)) {
        std::array<char, 65536> buffer;
        const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        if (first)
            reply.firstReadBytes = static_cast<std::size_t>(n);
        first = false;
        bytes.append(buffer.data(), static_cast<std::size_t>(n));
        if (headEnd == std::string::npos && (headEnd = bytes.find("\r\n\r\n")) != std::string::npos) {
            reply.head = bytes.substr(0, headEnd + 2);
            const std::string length = reply.Header("Content-Length");
            wanted = headEnd + 4 + static_cast<std::size_t>(std::atol(length.c_str()));
        }
        if (wanted != std::string::npos && bytes.size() >= wanted)
            break;
    }
    close(fd);
    if (wanted == std::string::npos || bytes.size() < wanted)
        return reply;
    reply.body = bytes.substr(headEnd + 4, wanted - headEnd - 4);
    reply.status = std::atoi(bytes.c_str() + bytes.find(' ') + 1);
    return reply;
}

std::string Encode(const std::string& text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

std::string Md5Hex(const std::string& text) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_md5(), nullptr);
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 0x0F]);
    }
    return out;
}

void ServiceClient::Sign(SignedCall& call) const {
    // Names are plain ASCII; values are encoded once here and once more inside the base string.
    std::map<std::string, std::string> all;
    for (const auto& [name, value] : call.params)
        all.emplace(name, Encode(value));
    all["oauth_consumer_key"] = Encode(call.credentials.consumerKey);
    all["oauth_nonce"] = Encode(call.nonce.empty() ? FreshNonce() : call.nonce);
    all["oauth_signature_method"] = "HMAC-SHA1";
    all["oauth_timestamp"] = std::to_string(call.timestamp != 0 ? call.timestamp : std::time(nullptr));
    all["oauth_version"] = "1.0";
    if (!call.credentials.token.empty())
        all["oauth_token"] = Encode(call.credentials.token);
    std::string normalized;
    for (const auto& [name, value] : all)
        normalized.append(normalized.empty() ? "" : "&").append(name).append("=").append(value);
    call.baseString = call.method + "&" +
                      Encode((call.apiRoot.empty() ? ApiRoot() : call.apiRoot) + call.path) + "&" +
                      Encode(normalized);

    const std::string key = call.credentials.consumerSecret + "&" + call.credentials.tokenSecret;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(call.baseString.data()), call.baseString.size(),
         digest.data(), &length);
    all["oauth_signature"] = Encode(Base64(digest.data(), length));
    call.signedText.clear();
    for (const auto& [name, value] : all)
        call.signedText.append(call.signedText.empty() ? "" : "&").append(name).append("=").append(value);
}

HttpReply ServiceClient::Send(const SignedCall& call) const {
    std::string request;
    const std::string headers =
        "Host:127.0.0.1\r\nAccept:*/*\r\nUser-Agent: Mozilla/4.0 (compatible; TAVI)\r\n"
        "Connection:Keep-Alive\r\n";
    if (call.method == "GET") {
        request = "GET /" + call.path + "?" + call.signedText + " HTTP/1.1\r\n" + headers + "\r\n";
    } else {
        request = call.method + " /" + call.path + " HTTP/1.1\r\n" + headers +
                  "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                  std::to_string(call.signedText.size()) + "\r\n\r\n" + call.signedText;
    }
    return Exchange(port_, request);
}

HttpReply ServiceClient::Call(const std::string& method, const std::string& path, const Params& params,
                              const Credentials& credentials) const {
    SignedCall call;
    call.method = method;
    call.path = path;
    call.params = params;
    call.credentials = credentials;
    Sign(call);
    return Send(call);
}

HttpReply ServiceClient::RequestToken(const std::string& account, const std::string& passwordForm) const {
    return Get("oauth/access_token",
               {{"x_auth_username", account},
                {"x_auth_password", passwordForm},
                {"x_auth_passtype", "0"},
                {"x_auth_mode", "client_auth"}},
               Credentials{});
}

Credentials ServiceClient::SignIn(const std::string& account, const std::string& password) const {
    Credentials credentials;
    const HttpReply reply = RequestToken(account, Md5Hex(password));
    if (reply.status != 200)
        return credentials;
    const auto form = ParseForm(reply.body);
    if (form.count("oauth_token") && form.count("oauth_token_secret")) {
        credentials.token = form.at("oauth_token");
        credentials.tokenSecret = form.at("oauth_token_secret");
    }
    return credentials;
}

std::map<std::string, std::string> ParseForm(const std::string& body) {
    std::map<std::string, std::string> form;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        const std::string piece = body.substr(start, end - start);
        const std::size_t equals = piece.find('=');
        if (equals != std::string::npos)
            form[Decode(piece.substr(0, equals))] = Decode(piece.substr(equals + 1));
        start = end + 1;
    }
    return form;
}

void DemoServiceTest::SetUp() {
    service_ = std::make_unique<MbServiceProcess>(ServiceArgs());
    ASSERT_TRUE(service_->Started()) << service_->ErrorLog();
    client_ = std::make_unique<ServiceClient>(service_->Port());
    if (SignsInDemo())
        demo_ = SignIn("demo@velmora.com", "demo123");
}

Credentials DemoServiceTest::SignIn(const std::string& account, const std::string& password) const {
    Credentials who = client_->SignIn(account, password);
    EXPECT_FALSE(who.token.empty()) << account << " cannot sign in";
    return who;
}

nlohmann::json DemoServiceTest::Home(const Credentials& who, int count) const {
    const HttpReply reply =
        client_->Get("statuses/home_timeline.json", {{"count", std::to_string(count)}}, who);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Json();
}

std::string DemoServiceTest::PostStatus(const Credentials& who, const std::string& text) const {
    const HttpReply reply = client_->Post("statuses/update.json", {{"status", text}}, who);
    EXPECT_EQ(reply.status, 200) << reply.body;
    const nlohmann::json status = reply.Json();
    return status.is_object() ? status.value("id", std::string()) : std::string();
}

nlohmann::json DemoServiceTest::Reminds(const Credentials& who) const {
    const HttpReply reply = client_->Get("reminds/message/latest.json", {}, who);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Json();
}

} // namespace mbtest
