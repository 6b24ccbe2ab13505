#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/server/TestCertificates.h"

namespace support {

// A web server on 127.0.0.1 and a free port that answers what the test tells it to, over HTTP or, given an
// identity, over HTTPS. Paths not set up answer 404. It can also answer with a body cut short, hold an
// answer back until released, and redirect.
class LoopbackServer {
public:
    struct Reply {
        int status = 200;
        std::string contentType = "application/octet-stream";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };

    LoopbackServer();
    explicit LoopbackServer(const TestIdentity& tlsIdentity);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Serve many requests per connection (by default each connection serves one, so that stopping the
    // server never waits for an idle client); stopping then waits out the keep-alive time-out.
    void keepConnectionsAlive();

    int port() const;
    // "http://127.0.0.1:<port><path>" (https when serving TLS); `host` replaces the address.
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;

    void serve(const std::string& path, Reply reply);
    void serve(const std::string& path, std::string body, std::string contentType = "application/octet-stream");
    void redirect(const std::string& from, const std::string& to, int status = 302);
    // Announces `announcedLength` bytes, sends `body` (shorter), then closes the connection.
    void truncate(const std::string& path, std::string body, std::size_t announcedLength);
    // Holds every answer for the path before its first byte until release() or the server stops.
    void stall(const std::string& path);
    // Answers with a chunked body of one byte every `interval`, without end until release() or the server stops.
    void trickle(const std::string& path, std::chrono::milliseconds interval);
    void release();
    // How many requests reached the path, and the header fields of the latest one.
    int hits(const std::string& path) const;
    std::string lastHeader(const std::string& path, const std::string& field) const;

private:
    struct State;
    void start(bool tls, const TestIdentity* identity);
    std::unique_ptr<State> m_state;
};

}  // namespace support
