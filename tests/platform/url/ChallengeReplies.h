#pragma once

#include <string>
#include <vector>

#include "support/server/LoopbackServer.h"

// The answers a password-challenge test scripts its loopback server with, shared by the connection's and
// the session's tests.
namespace challengereplies {

using support::LoopbackServer;

inline LoopbackServer::Reply challenge(const std::vector<std::string>& offered)
{
    LoopbackServer::Reply reply{401, "text/plain", "who are you", {}, 0};
    for (const auto& value : offered) reply.headers.emplace_back("WWW-Authenticate", value);
    return reply;
}

inline LoopbackServer::Reply redirectTo(const std::string& url) { return LoopbackServer::Reply{302, "text/plain", "", {{"Location", url}}, 0}; }

inline const LoopbackServer::Reply kWelcome{200, "text/plain", "welcome", {}, 0};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace challengereplies
