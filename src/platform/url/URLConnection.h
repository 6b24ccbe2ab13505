#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error/Error.h"
#include "platform/trust/ServerTrustCheck.h"
#include "platform/url/PasswordAnswer.h"
#include "platform/url/URLConnectionDelegate.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class InputStream;
class TransferLoop;

// One request carried to its answer over libcurl: redirects (each offered to the delegate), an idle
// time-out, server trust and password challenges (a 401 with "WWW-Authenticate": the first Basic or Digest
// challenge offered) decided by the delegate, the body handed over chunk by chunk. A password answered
// goes only to the scheme, host and port that asked for it; a Digest nonce that expired is answered
// again without asking. No header field with a line break or NUL, nor a method that is not one word, is
// ever sent: such a request fails. It runs in a
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
    void sentBody(std::size_t bytes);
    void headersComplete();
    // A 401 put to the delegate: true when the request goes again with a credential.
    bool answerPasswordChallenge(const URLResponse& response);
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
    // Password challenges: the credentials tried so far where the last 401 came from, the answer kept with its protection space,
    // whether this attempt carries it, how often an expired nonce was renewed, whether this attempt's 401
    // is being answered by another one, and the refusal (the delegate cancelled, or nothing offered can
    // be answered).
    std::size_t m_authenticationFailures = 0;
    std::optional<PasswordAnswer> m_answer;
    bool m_answerSent = false;
    int m_nonceRenewals = 0;
    bool m_authenticationRetry = false;
    std::optional<Error> m_authenticationError;
    // Body bytes handed to curl in this attempt, and the body's length (-1 when not known).
    std::int64_t m_bodySent = 0;
    std::int64_t m_bodyLength = -1;
    // The body being sent: bytes from an offset, or a stream read once per attempt.
    std::size_t m_bodyOffset = 0;
    std::shared_ptr<InputStream> m_bodyStream;
    bool m_bodyStreamRead = false;
    std::optional<Error> m_bodyError;
};

}  // namespace platform
