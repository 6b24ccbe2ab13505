#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error/Error.h"
#include "platform/url/HTTPAuthorization.h"
#include "platform/url/URLRequest.h"

namespace platform {

// Pieces every curl-driven transfer of the loading layer shares.

// Brings curl's global state up once per process.
void initialiseCurlOnce();
bool isRedirectStatus(long status);
// A header line without its line end.
std::string trimHeaderLine(const char* data, std::size_t length);
// A Location value made absolute against the URL that answered with it; nothing when it cannot be parsed.
std::optional<std::string> resolveLocation(const std::string& base, const std::string& location);
// Whether two URLs share scheme, host and port (the default port counted as given).
bool sameOrigin(const std::string& a, const std::string& b);
// The request a redirect leads to: the same request at `target`, turned into a GET without body where
// the status asks for it (303 for all but HEAD; 301 and 302 for POST), and stripped of the old origin's
// credentials and cookies when the target lies elsewhere, so they never reach another host or go out
// in the clear.
URLRequest redirectedRequest(const URLRequest& request, const std::string& target, long status);
// Whether a request that goes without a body must say "Content-Length: 0": a POST, PUT or PATCH that
// names no length itself (curl sends none for such a method without a body).
bool sendsZeroLength(const URLRequest& request);
// The refusal of a request that holds a header field which cannot go out as one line (see
// URLRequest::isSendableField), or nothing when every field can. The last line before the wire: a field
// set past every earlier check is still never sent.
std::optional<Error> unsendableField(const std::vector<std::pair<std::string, std::string>>& fields, const std::string& url);
// The refusal of a request whose method cannot go out as the request line's first word (see
// URLRequest::isSendableMethod), or nothing when it can; like the fields, checked last before the wire.
std::optional<Error> unsendableMethod(const URLRequest& request);
// The refusal of a 401 whose challenges (those offered, named in the text) none can be answered.
Error unanswerableChallenges(const std::vector<HTTPAuthorization::Challenge>& offered, const std::string& url);
// The path and query of a URL as curl sends them in the request line ("/" when it has no path).
std::string requestTarget(const std::string& url);
// A time in seconds as a wait on the steady clock: a huge or infinite one clamped to a year, which
// every time point and curl option can hold, a negative or not-a-number one as none.
std::chrono::milliseconds clampedWait(double seconds);
// The loading layer's error for a failed curl transfer, `detail` (curl's error buffer) preferred as text.
Error errorForCurlCode(int curlCode, const std::string& url, const char* detail);

}  // namespace platform
