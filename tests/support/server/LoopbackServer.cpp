#define CPPHTTPLIB_OPENSSL_SUPPORT
#include "support/server/LoopbackServer.h"

#include <httplib.h>
#include <sys/socket.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <strings.h>
#include <thread>

// Routes are written with designated initializers naming only the fields their kind uses.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace support {

namespace {

enum class Kind { Reply, Truncate, Stall, Trickle, Script, Authenticate, DigestAuthenticate };

struct Route {
    Kind kind = Kind::Reply;
    LoopbackServer::Reply reply;
    std::size_t announcedLength = 0;
    std::chrono::milliseconds interval{0};
    std::vector<LoopbackServer::Reply> script;
    std::size_t played = 0;
    std::string credentials;
    std::string realm;
};

constexpr const char* kDigestNonce = "5e1f0ce";

std::string md5(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) out += std::string{hex[digest[i] >> 4], hex[digest[i] & 15]};
    return out;
}

// The value of one field of a Digest answer, quoted or not.
std::string digestField(const std::string& header, const std::string& name)
{
    std::size_t at = 0;
    while ((at = header.find(name + "=", at)) != std::string::npos) {
        if (at == 0 || header[at - 1] == ' ' || header[at - 1] == ',') break;
        at += name.size();
    }
    if (at == std::string::npos) return {};
    at += name.size() + 1;
    if (at < header.size() && header[at] == '"') return header.substr(at + 1, header.find('"', at + 1) - at - 1);
    return header.substr(at, header.find_first_of(", ", at) - at);
}

// True for a Digest answer (qop "auth", MD5) that proves the credentials for this method.
bool digestProves(const std::string& header, const std::string& method, const std::string& credentials, const std::string& realm)
{
    if (header.rfind("Digest ", 0) != 0) return false;
    const std::string user = credentials.substr(0, credentials.find(':'));
    const std::string password = credentials.substr(credentials.find(':') + 1);
    if (digestField(header, "username") != user || digestField(header, "nonce") != kDigestNonce ||
        digestField(header, "realm") != realm || digestField(header, "qop") != "auth" || digestField(header, "opaque") != "0pa")
        return false;
    const std::string first = md5(user + ":" + realm + ":" + password);
    const std::string second = md5(method + ":" + digestField(header, "uri"));
    return digestField(header, "response") == md5(first + ":" + kDigestNonce + ":" + digestField(header, "nc") + ":" +
                                                  digestField(header, "cnonce") + ":auth:" + second);
}

std::string base64(const std::string& text)
{
    std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
    out.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(text.data()),
                               static_cast<int>(text.size())));
    return out;
}

void challenge(httplib::Response& response, const std::string& header)
{
    response.status = 401;
    response.set_header("WWW-Authenticate", header);
    response.set_content("who are you", "text/plain");
}

}  // namespace

struct LoopbackServer::State {
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    bool tls = false;
    mutable std::mutex mutex;
    std::condition_variable released;
    bool releasedOrStopping = false;
    std::map<std::string, Route> routes;
    std::map<std::string, std::vector<LoopbackServer::Request>> recorded;

    void set(const std::string& path, Route route)
    {
        std::lock_guard lock(mutex);
        routes[path] = std::move(route);
    }

    void handle(const httplib::Request& request, httplib::Response& response)
    {
        Route route;
        {
            std::unique_lock lock(mutex);
            LoopbackServer::Request copy{request.method, request.path, {}, {}, request.body};
            const auto question = request.target.find('?');
            if (question != std::string::npos) copy.query = request.target.substr(question + 1);
            for (const auto& [name, value] : request.headers) copy.headers.emplace_back(name, value);
            recorded[request.path].push_back(std::move(copy));
            auto found = routes.find(request.path);
            if (found == routes.end()) {
                response.status = 404;
                response.set_content("not here", "text/plain");
                return;
            }
            if (found->second.kind == Kind::Script) {
                Route& script = found->second;
                route.reply = script.script[std::min(script.played++, script.script.size() - 1)];
            } else {
                route = found->second;
            }
            const std::string authorization = request.get_header_value("Authorization");
            if (route.kind == Kind::Authenticate && authorization != "Basic " + base64(route.credentials))
                return challenge(response, "Basic realm=\"" + route.realm + "\"");
            if (route.kind == Kind::DigestAuthenticate && !digestProves(authorization, request.method, route.credentials, route.realm))
                return challenge(response, "Digest realm=\"" + route.realm + "\", qop=\"auth,auth-int\", nonce=\"" + kDigestNonce +
                                               "\", opaque=\"0pa\", algorithm=MD5");
            if (route.kind == Kind::Stall) {
                released.wait(lock, [&] { return releasedOrStopping; });
                route.kind = Kind::Reply;
            }
        }
        // Left unset for a range request so that the server library answers 206 with the range.
        if (route.reply.status != 200 || !request.has_header("Range")) response.status = route.reply.status;
        for (const auto& [name, value] : route.reply.headers) response.set_header(name, value);
        auto body = std::make_shared<std::string>(route.reply.body);
        if (route.kind == Kind::Trickle) {
            response.set_chunked_content_provider(route.reply.contentType, [this, interval = route.interval](std::size_t, httplib::DataSink& sink) {
                std::unique_lock lock(mutex);
                if (released.wait_for(lock, interval, [&] { return releasedOrStopping; })) return false;
                lock.unlock();
                return sink.write("t", 1);
            });
        } else if (route.kind == Kind::Truncate) {
            response.set_content_provider(route.announcedLength, route.reply.contentType,
                                          [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                              if (offset >= body->size()) return false;  // drops the connection short of the length
                                              sink.write(body->data() + offset, body->size() - offset);
                                              return true;
                                          });
        } else if (const std::size_t piece = route.reply.chunkSize) {
            response.set_chunked_content_provider(route.reply.contentType, [body, piece](std::size_t offset, httplib::DataSink& sink) {
                if (offset < body->size()) sink.write(body->data() + offset, std::min(piece, body->size() - offset));
                else sink.done();
                return true;
            });
        } else {
            response.set_content(route.reply.body, route.reply.contentType);
        }
    }
};

LoopbackServer::LoopbackServer() : m_state(std::make_unique<State>()) { start(false, nullptr); }
LoopbackServer::LoopbackServer(const TestIdentity& tlsIdentity) : m_state(std::make_unique<State>()) { start(true, &tlsIdentity); }

void LoopbackServer::start(bool tls, const TestIdentity* identity)
{
    State& state = *m_state;
    state.tls = tls;
    if (tls) {
        BIO* certBio = BIO_new_mem_buf(identity->certificatePEM.data(), static_cast<int>(identity->certificatePEM.size()));
        BIO* keyBio = BIO_new_mem_buf(identity->keyPEM.data(), static_cast<int>(identity->keyPEM.size()));
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        state.server = std::make_unique<httplib::SSLServer>(cert, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(certBio);
        BIO_free(keyBio);
    } else {
        state.server = std::make_unique<httplib::Server>();
    }
    auto handler = [&state](const httplib::Request& request, httplib::Response& response) { state.handle(request, response); };
    state.server->Get(".*", handler).Post(".*", handler).Put(".*", handler).Patch(".*", handler).Delete(".*", handler);
    // One request per connection unless asked otherwise: an idle kept-alive connection would hold the
    // server's shutdown for its whole keep-alive time-out.
    state.server->set_keep_alive_max_count(1);
    // The handshake runs under the read time-out, and under the thread sanitizer on a loaded machine it
    // can outlast the library's 5 s; a plain server keeps it, so an idle connection holds no shutdown long.
    if (tls) state.server->set_read_timeout(30, 0);
    // The server library listens with a backlog of 5: a burst of parallel connections then overflows
    // it and each dropped SYN costs the client a one-second retransmission. Keep the socket and widen
    // the backlog once bound.
    int listening = -1;
    state.server->set_socket_options([&listening](socket_t sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    state.port = state.server->bind_to_any_port("127.0.0.1");
    if (state.port <= 0) throw std::runtime_error("the loopback server cannot bind");
    if (listening >= 0) ::listen(listening, 256);
    state.thread = std::thread([&state] { state.server->listen_after_bind(); });
    while (!state.server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer()
{
    release();
    m_state->server->stop();
    m_state->thread.join();
}

void LoopbackServer::keepConnectionsAlive() { m_state->server->set_keep_alive_max_count(100); }
int LoopbackServer::port() const { return m_state->port; }

std::string LoopbackServer::url(const std::string& path, const std::string& host) const
{
    return std::string(m_state->tls ? "https://" : "http://") + host + ":" + std::to_string(m_state->port) + path;
}

void LoopbackServer::serve(const std::string& path, Reply reply) { m_state->set(path, {.reply = std::move(reply)}); }

void LoopbackServer::serve(const std::string& path, std::string body, std::string contentType)
{
    serve(path, Reply{200, std::move(contentType), std::move(body), {}, 0});
}

void LoopbackServer::redirect(const std::string& from, const std::string& to, int status)
{
    serve(from, Reply{status, "text/plain", "moved", {{"Location", to}}, 0});
}

void LoopbackServer::truncate(const std::string& path, std::string body, std::size_t announcedLength)
{
    m_state->set(path, {.kind = Kind::Truncate, .reply = {.body = std::move(body)}, .announcedLength = announcedLength});
}

void LoopbackServer::stall(const std::string& path)
{
    m_state->set(path, {.kind = Kind::Stall, .reply = {200, "text/plain", "late", {}, 0}});
}

void LoopbackServer::trickle(const std::string& path, std::chrono::milliseconds interval)
{
    m_state->set(path, {.kind = Kind::Trickle, .interval = interval});
}

void LoopbackServer::release()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->releasedOrStopping = true;
    }
    m_state->released.notify_all();
}

void LoopbackServer::script(const std::string& path, std::vector<Reply> replies)
{
    m_state->set(path, {.kind = Kind::Script, .script = std::move(replies)});
}

void LoopbackServer::requireBasicAuthentication(const std::string& path, const std::string& user,
                                                const std::string& password, Reply reply, const std::string& realm)
{
    m_state->set(path, {.kind = Kind::Authenticate, .reply = std::move(reply), .credentials = user + ":" + password, .realm = realm});
}

void LoopbackServer::requireDigestAuthentication(const std::string& path, const std::string& user,
                                                 const std::string& password, Reply reply, const std::string& realm)
{
    m_state->set(path, {.kind = Kind::DigestAuthenticate, .reply = std::move(reply), .credentials = user + ":" + password, .realm = realm});
}

std::vector<LoopbackServer::Request> LoopbackServer::requests(const std::string& path) const
{
    std::lock_guard lock(m_state->mutex);
    auto found = m_state->recorded.find(path);
    return found == m_state->recorded.end() ? std::vector<Request>{} : found->second;
}

std::string LoopbackServer::Request::header(const std::string& field) const
{
    for (const auto& [name, value] : headers)
        if (strcasecmp(name.c_str(), field.c_str()) == 0) return value;
    return {};
}

int LoopbackServer::hits(const std::string& path) const { return static_cast<int>(requests(path).size()); }

std::string LoopbackServer::lastHeader(const std::string& path, const std::string& field) const
{
    const auto seen = requests(path);
    return seen.empty() ? std::string() : seen.back().header(field);
}

}  // namespace support
