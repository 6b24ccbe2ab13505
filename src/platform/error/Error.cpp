#include "platform/error/Error.h"

namespace platform {

Error Error::make(std::string domain, std::int64_t code, std::string description,
                  std::map<std::string, std::string> userInfo, std::shared_ptr<const Error> underlying)
{
    Error error;
    error.domain = std::move(domain);
    error.code = code;
    error.description = std::move(description);
    error.userInfo = std::move(userInfo);
    error.underlying = std::move(underlying);
    return error;
}

std::string Error::info(const std::string& key) const
{
    auto found = userInfo.find(key);
    return found == userInfo.end() ? std::string() : found->second;
}

std::string Error::describe() const
{
    std::string text = domain + " " + std::to_string(code) + ": " + description;
    for (const Error* cause = underlying.get(); cause != nullptr; cause = cause->underlying.get())
        text += "\n  caused by " + cause->domain + " " + std::to_string(cause->code) + ": " + cause->description;
    return text;
}

}  // namespace platform
