#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace platform {

// A failure as the layers report it upwards: a domain, a code, a readable description, free-form
// user information and, where one failure caused another, the one underneath.
struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string description;
    std::map<std::string, std::string> userInfo;
    std::shared_ptr<const Error> underlying;

    static Error make(std::string domain, std::int64_t code, std::string description,
                      std::map<std::string, std::string> userInfo = {}, std::shared_ptr<const Error> underlying = {});

    // The user-information value for a key, or the empty string.
    std::string info(const std::string& key) const;
    // "domain code: description", then each underlying error on its own line.
    std::string describe() const;
};

}  // namespace platform
