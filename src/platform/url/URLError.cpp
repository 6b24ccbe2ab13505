#include "platform/url/URLError.h"

#include <cstring>

namespace platform {

Error makeURLError(std::int64_t code, const std::string& url, const std::string& description)
{
    std::map<std::string, std::string> userInfo;
    if (!url.empty()) userInfo[kURLErrorFailingURLErrorKey] = url;
    return Error::make(kURLErrorDomain, code, description, std::move(userInfo));
}

Error makePOSIXError(int errorNumber, const std::string& what)
{
    return Error::make(kPOSIXErrorDomain, errorNumber, what + ": " + std::strerror(errorNumber));
}

}  // namespace platform
