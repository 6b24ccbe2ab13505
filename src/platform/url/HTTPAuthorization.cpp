#include "platform/url/HTTPAuthorization.h"

#include <openssl/evp.h>
#include <strings.h>

#include <cctype>
#include <cstdio>

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
        std::string option = qop.substr(start, end - start);
        while (!option.empty() && option.front() == ' ') option.erase(option.begin());
        while (!option.empty() && option.back() == ' ') option.pop_back();
        if (strcasecmp(option.c_str(), "auth") == 0) return true;
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

}  // namespace

std::string HTTPAuthorization::Challenge::parameter(const std::string& name) const
{
    auto found = parameters.find(name);
    return found == parameters.end() ? std::string() : found->second;
}

std::optional<HTTPAuthorization::Challenge> HTTPAuthorization::parse(const std::string& header)
{
    std::size_t at = 0;
    auto skipSpace = [&] {
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) ++at;
    };
    auto token = [&] {
        const std::size_t start = at;
        while (at < header.size() && isTokenChar(header[at])) ++at;
        return header.substr(start, at - start);
    };
    skipSpace();
    Challenge challenge;
    challenge.scheme = token();
    if (challenge.scheme.empty()) return std::nullopt;
    for (;;) {
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t' || header[at] == ',')) ++at;
        if (at >= header.size()) break;
        const std::size_t nameStart = at;
        std::string name = token();
        skipSpace();
        if (name.empty()) return std::nullopt;
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
            if (!closed) return std::nullopt;
        } else {
            value = token();
        }
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        challenge.parameters.emplace(std::move(name), std::move(value));
    }
    return challenge;
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
    if (strcasecmp(challenge.scheme.c_str(), "Basic") == 0) return "Basic " + base64(user + ":" + password);
    if (strcasecmp(challenge.scheme.c_str(), "Digest") != 0) return std::nullopt;
    const std::string algorithm = challenge.parameter("algorithm");
    const std::string nonce = challenge.parameter("nonce");
    if (nonce.empty() || (!algorithm.empty() && strcasecmp(algorithm.c_str(), "MD5") != 0)) return std::nullopt;
    const std::string realm = challenge.parameter("realm");
    const std::string first = md5Hex(user + ":" + realm + ":" + password);
    const std::string second = md5Hex(method + ":" + uri);
    const std::string qop = challenge.parameter("qop");
    const bool withQop = offersAuth(qop);
    // A server that offers qop but not "auth" (only "auth-int") cannot be answered here.
    if (!qop.empty() && !withQop) return std::nullopt;
    char count[9];
    std::snprintf(count, sizeof count, "%08x", nonceCount);
    const std::string response = withQop ? md5Hex(first + ":" + nonce + ":" + count + ":" + clientNonce + ":auth:" + second)
                                         : md5Hex(first + ":" + nonce + ":" + second);
    std::string out = "Digest username=" + quoted(user) + ", realm=" + quoted(realm) + ", nonce=" + quoted(nonce) +
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
