#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/error/Error.h"

namespace platform {

// Pieces every curl-driven transfer of the loading layer shares.

// Brings curl's global state up once per process.
void initialiseCurlOnce();
bool isRedirectStatus(long status);
// A header line without its line end.
std::string trimHeaderLine(const char* data, std::size_t length);
// A Location value made absolute against the URL that answered with it; nothing when it cannot be parsed.
std::optional<std::string> resolveLocation(const std::string& base, const std::string& location);
// The loading layer's error for a failed curl transfer, `detail` (curl's error buffer) preferred as text.
Error errorForCurlCode(int curlCode, const std::string& url, const char* detail);

}  // namespace platform
