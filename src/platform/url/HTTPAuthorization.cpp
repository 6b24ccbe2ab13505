#include "platform/url/HTTPAuthorization.h"

#include <openssl/evp.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "platform/url/AuthenticationChallenge.h"

namespace platform {

namespace {

bool isTokenChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string md5Hex(const std::string& text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

bool offersAuth(const std::string& qop)
{
    std::size_t start = 0;
    while (start <= qop.size()) {
        std::size_t end = qop.find(',', start);
        if (end == std::string::npos) end = qop.size();
        // A list's white space is spaces or tabs (trimmed in one pass: the list is the server's to pad).
        std::string_view option = std::string_view(qop).substr(start, end - start);
        const std::size_t first = option.find_first_not_of(" \t");
        option = first == std::string_view::npos ? std::string_view() : option.substr(first, option.find_last_not_of(" \t") - first + 1);
        if (option.size() == 4 && strncasecmp(option.data(), "auth", 4) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A value goes inside quotes as it is, with only quotes and backslashes escaped.
std::string quoted(const std::string& value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The user name of a Digest answer: quoted where a quoted string can carry it; else (a control character
// such as CR or LF would end the header line) as an extended value, every byte but the plainest
// percent-encoded, so nothing the user typed can shape the header.
std::string userParameter(const std::string& user)
{
    const bool quotable = std::none_of(user.begin(), user.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7f;
    });
    if (quotable) return "username=" + quoted(user);
    std::string out = "username*=UTF-8''";
    char escaped[4];
    for (char c : user) {
        if (std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos) {
            out += c;
        } else {
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        }
    }
    return out;
}

}  // namespace

std::string HTTPAuthorization::Challenge::parameter(const std::string& name) const
{
    auto found = parameters.find(name);
    return found == parameters.end() ? std::string() : found->second;
}

std::vector<HTTPAuthorization::Challenge> HTTPAuthorization::parseAll(const std::string& header)
{
    std::vector<Challenge> challenges;
    std::size_t at = 0;
    auto skipSpace = [&] {
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) ++at;
    };
    auto skipSeparators = [&] {
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t' || header[at] == ',')) ++at;
    };
    auto token = [&] {
        const std::size_t start = at;
        while (at < header.size() && isTokenChar(header[at])) ++at;
        return header.substr(start, at - start);
    };
    // The end of a token68 credential starting here when one stands alone up to the next comma;
    // "realm=x" is a parameter instead.
    auto token68End = [&]() -> std::optional<std::size_t> {
        std::size_t end = at;
        while (end < header.size() && (std::isalnum(static_cast<unsigned char>(header[end])) ||
                                       std::string_view("-._~+/").find(header[end]) != std::string_view::npos))
            ++end;
        if (end == at) return std::nullopt;
        while (end < header.size() && header[end] == '=') ++end;
        std::size_t next = end;
        while (next < header.size() && (header[next] == ' ' || header[next] == '\t')) ++next;
        if (next < header.size() && header[next] != ',') return std::nullopt;
        return end;
    };
    for (;;) {
        skipSeparators();
        if (at >= header.size()) break;
        Challenge challenge;
        challenge.scheme = token();
        if (challenge.scheme.empty()) break;
        if (at < header.size() && (header[at] == ' ' || header[at] == '\t')) {
            skipSpace();
            if (const auto end = token68End()) {
                at = *end;
                challenges.push_back(std::move(challenge));
                continue;
            }
        }
        bool malformed = false;
        for (;;) {
            skipSeparators();
            if (at >= header.size()) break;
            const std::size_t nameStart = at;
            std::string name = token();
            skipSpace();
            if (name.empty()) {
                malformed = true;
                break;
            }
            // A token not followed by '=' starts the next challenge.
            if (at >= header.size() || header[at] != '=') {
                at = nameStart;
                break;
            }
            ++at;
            skipSpace();
            std::string value;
            if (at < header.size() && header[at] == '"') {
                ++at;
                bool closed = false;
                while (at < header.size()) {
                    char c = header[at++];
                    if (c == '\\' && at < header.size()) {
                        value += header[at++];
                    } else if (c == '"') {
                        closed = true;
                        break;
                    } else {
                        value += c;
                    }
                }
                if (!closed) {
                    malformed = true;
                    break;
                }
            } else {
                value = token();
            }
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            challenge.parameters.emplace(std::move(name), std::move(value));
        }
        if (malformed) break;
        challenges.push_back(std::move(challenge));
    }
    return challenges;
}

std::vector<HTTPAuthorization::Challenge> HTTPAuthorization::challengesOf(
    const std::vector<std::pair<std::string, std::string>>& headerFields)
{
    std::vector<Challenge> challenges;
    for (const auto& [name, value] : headerFields)
        if (strcasecmp(name.c_str(), "WWW-Authenticate") == 0)
            for (auto& challenge : parseAll(value)) challenges.push_back(std::move(challenge));
    return challenges;
}

std::optional<HTTPAuthorization::Challenge> HTTPAuthorization::parse(const std::string& header)
{
    auto challenges = parseAll(header);
    if (challenges.empty()) return std::nullopt;
    return std::move(challenges.front());
}

bool HTTPAuthorization::canAnswer(const Challenge& challenge)
{
    if (strcasecmp(challenge.scheme.c_str(), "Basic") == 0) return true;
    if (strcasecmp(challenge.scheme.c_str(), "Digest") != 0) return false;
    const std::string algorithm = challenge.parameter("algorithm");
    const std::string qop = challenge.parameter("qop");
    // A server that offers qop but not "auth" (only "auth-int") cannot be answered here.
    return !challenge.parameter("nonce").empty() && (algorithm.empty() || strcasecmp(algorithm.c_str(), "MD5") == 0) &&
           (qop.empty() || offersAuth(qop));
}

bool HTTPAuthorization::isStale(const Challenge& challenge)
{
    return strcasecmp(challenge.scheme.c_str(), "Digest") == 0 && strcasecmp(challenge.parameter("stale").c_str(), "true") == 0;
}

const char* HTTPAuthorization::authenticationMethod(const Challenge& challenge)
{
    if (strcasecmp(challenge.scheme.c_str(), "Basic") == 0) return kAuthenticationMethodHTTPBasic;
    if (strcasecmp(challenge.scheme.c_str(), "Digest") == 0) return kAuthenticationMethodHTTPDigest;
    return kAuthenticationMethodDefault;
}

std::optional<std::string> HTTPAuthorization::header(const Challenge& challenge, const std::string& method, const std::string& uri,
                                                     const std::string& user, const std::string& password, unsigned nonceCount,
                                                     const std::string& clientNonce)
{
    if (!canAnswer(challenge)) return std::nullopt;
    if (strcasecmp(challenge.scheme.c_str(), "Basic") == 0) return "Basic " + base64(user + ":" + password);
    const std::string algorithm = challenge.parameter("algorithm");
    const std::string nonce = challenge.parameter("nonce");
    const std::string realm = challenge.parameter("realm");
    const std::string first = md5Hex(user + ":" + realm + ":" + password);
    const std::string second = md5Hex(method + ":" + uri);
    const bool withQop = offersAuth(challenge.parameter("qop"));
    char count[9];
    std::snprintf(count, sizeof count, "%08x", nonceCount);
    const std::string response = withQop ? md5Hex(first + ":" + nonce + ":" + count + ":" + clientNonce + ":auth:" + second)
                                         : md5Hex(first + ":" + nonce + ":" + second);
    std::string out = "Digest " + userParameter(user) + ", realm=" + quoted(realm) + ", nonce=" + quoted(nonce) +
                      ", uri=" + quoted(uri) + ", response=\"" + response + "\"";
    if (!algorithm.empty()) out += ", algorithm=" + algorithm;
    if (withQop) out += std::string(", qop=auth, nc=") + count + ", cnonce=" + quoted(clientNonce);
    if (challenge.parameters.count("opaque")) out += ", opaque=" + quoted(challenge.parameter("opaque"));
    return out;
}

std::string HTTPAuthorization::base64(const std::string& text)
{
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        const unsigned n = static_cast<unsigned char>(text[i]) << 16 | static_cast<unsigned char>(text[i + 1]) << 8 |
                           static_cast<unsigned char>(text[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += alphabet[(n >> shift) & 63];
    }
    const std::size_t left = text.size() - i;
    if (left > 0) {
        unsigned n = static_cast<unsigned char>(text[i]) << 16;
        if (left == 2) n |= static_cast<unsigned char>(text[i + 1]) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += left == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace platform
