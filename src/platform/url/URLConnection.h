#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error/Error.h"
#include "platform/trust/ServerTrustCheck.h"
#include "platform/url/URLConnectionDelegate.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class InputStream;
class TransferLoop;

// One request carried to its answer over libcurl: redirects (each offered to the delegate), an idle
// time-out, server trust decided by the delegate, the body handed over chunk by chunk. It runs in a
// TransferLoop, and start, cancel and every delegate call happen on the thread that drives that loop.
// The connection holds its delegate until its last call.
class URLConnection final : public std::enable_shared_from_this<URLConnection>, private ServerTrustHandler {
public:
    static std::shared_ptr<URLConnection> create(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate);
    ~URLConnection() override;
    URLConnection(const URLConnection&) = delete;
    URLConnection& operator=(const URLConnection&) = delete;

    void start(TransferLoop& loop);
    // Stops the transfer; the delegate hears nothing more.
    void cancel();

    const URLRequest& originalRequest() const { return m_original; }
    const URLRequest& currentRequest() const { return m_request; }

    // Runs the request on the calling thread and returns the body; the response or the error goes to the
    // out-parameters. Server trust is the standard evaluation for the request's host.
    static Bytes sendSynchronousRequest(const URLRequest& request, std::optional<URLResponse>* response,
                                        std::optional<Error>* error);

private:
    friend class TransferLoop;
    URLConnection(URLRequest request, std::shared_ptr<URLConnectionDelegate> delegate);

    // Nothing, or why the request cannot be made.
    std::optional<Error> configure();
    // Bytes moved: the idle limit starts again, and they count towards the slow-transfer floor.
    void touch(std::size_t bytes = 0);
    bool cancelled() const { return m_cancelled; }
    std::chrono::steady_clock::time_point deadline() const { return m_deadline; }
    void* handle() const { return m_easy; }
    // Called by the loop, outside curl's callbacks.
    void transferDone(int curlCode);
    void timedOut();
    void fail(const Error& error);
    void end();

    std::size_t onHeader(const char* data, std::size_t length);
    std::size_t onBody(const char* data, std::size_t length);
    // The request body for this attempt; an error when a stream already read cannot be had afresh.
    std::optional<Error> prepareBody(bool hasBody);
    std::size_t onRead(char* buffer, std::size_t length);
    void headersComplete();
    void deliverResponse(URLResponse response);
    Error errorFor(int curlCode) const;
    bool acceptServerTrust(ServerTrust& trust) override;

    friend struct CurlCallbacks;

    URLRequest m_original;
    URLRequest m_request;
    std::shared_ptr<URLConnectionDelegate> m_delegate;
    TransferLoop* m_loop = nullptr;
    void* m_easy = nullptr;
    void* m_headerList = nullptr;
    // The current request's URL as parsed for curl, and its host.
    void* m_url = nullptr;
    std::string m_host;
    char m_errorText[256] = {};
    bool m_cancelled = false;
    bool m_ended = false;
    std::chrono::steady_clock::time_point m_deadline{};
    std::optional<std::chrono::steady_clock::time_point> m_totalDeadline;
    // The current window of the slow-transfer floor: since when, and how many bytes moved in it.
    std::chrono::steady_clock::time_point m_windowStart{};
    std::uint64_t m_windowBytes = 0;
    std::vector<std::pair<std::string, std::string>> m_headers;
    bool m_responseDelivered = false;
    std::optional<URLRequest> m_redirect;
    int m_redirectCount = 0;
    std::optional<Error> m_trustError;
    // The body being sent: bytes from an offset, or a stream read once per attempt.
    std::size_t m_bodyOffset = 0;
    std::shared_ptr<InputStream> m_bodyStream;
    bool m_bodyStreamRead = false;
    std::optional<Error> m_bodyError;
};

}  // namespace platform
