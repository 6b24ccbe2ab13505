#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/server/TestCertificates.h"

namespace support {

// A web server on 127.0.0.1 and a free port that answers what the test tells it to, over HTTP or, given an
// identity, over HTTPS, to every method. Paths not set up answer 404. It can also answer with a body cut
// short or sent in chunks, hold an answer back until released, redirect, ask for a password, play a
// script of answers, and it records every request it got.
class LoopbackServer {
public:
    struct Reply {
        int status = 200;
        std::string contentType = "application/octet-stream";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        // Sent with chunked transfer encoding, in pieces of this size (0: in one piece with a length).
        std::size_t chunkSize = 0;
    };
    struct Request {
        std::string method;
        std::string path;
        std::string query;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        std::string header(const std::string& field) const;
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
    // Answers the replies in turn, one per request; the last one answers every request after it.
    void script(const std::string& path, std::vector<Reply> replies);
    // Answers 401 with a Basic challenge for `realm` unless the request carries the user and password.
    void requireBasicAuthentication(const std::string& path, const std::string& user, const std::string& password,
                                    Reply reply, const std::string& realm = "loopback");
    // The same with a Digest challenge (MD5, qop "auth"), checked with the request's method and URI.
    void requireDigestAuthentication(const std::string& path, const std::string& user, const std::string& password,
                                     Reply reply, const std::string& realm = "loopback");
    // Every request that reached the path, oldest first.
    std::vector<Request> requests(const std::string& path) const;
    // How many requests reached the path, and the header fields of the latest one.
    int hits(const std::string& path) const;
    std::string lastHeader(const std::string& path, const std::string& field) const;

private:
    struct State;
    void start(bool tls, const TestIdentity* identity);
    std::unique_ptr<State> m_state;
};

}  // namespace support
