#pragma once

#include <cstdint>
#include <string>

#include "platform/error/Error.h"

namespace platform {

// Errors of URL loading. The codes keep the values callers of the loading layer know.
inline constexpr const char* kURLErrorDomain = "org.pexo.rigmora.url";
inline constexpr const char* kURLErrorFailingURLErrorKey = "org.pexo.rigmora.url.failing-url";
inline constexpr const char* kPOSIXErrorDomain = "org.pexo.rigmora.posix";

enum URLErrorCode : std::int64_t {
    URLErrorUnknown = -1,
    URLErrorCancelled = -999,
    URLErrorBadURL = -1000,
    URLErrorTimedOut = -1001,
    URLErrorUnsupportedURL = -1002,
    URLErrorCannotFindHost = -1003,
    URLErrorCannotConnectToHost = -1004,
    URLErrorNetworkConnectionLost = -1005,
    URLErrorHTTPTooManyRedirects = -1007,
    URLErrorBadServerResponse = -1011,
    URLErrorUserCancelledAuthentication = -1012,
    URLErrorUserAuthenticationRequired = -1013,
    URLErrorCannotDecodeContentData = -1016,
    URLErrorRequestBodyStreamExhausted = -1021,
    URLErrorSecureConnectionFailed = -1200,
    URLErrorServerCertificateUntrusted = -1202,
    URLErrorDataLengthExceedsMaximum = -1103,
    URLErrorCannotWriteToFile = -3003,
};

Error makeURLError(std::int64_t code, const std::string& url, const std::string& description);
// An error of the POSIX domain for an errno value, with the system's text.
Error makePOSIXError(int errorNumber, const std::string& what);

}  // namespace platform
