#include "support/server/RawHTTPRecorder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <strings.h>

namespace support {

namespace {

// Reads until the buffer holds `want` bytes, or the peer stops; false when it stopped short.
bool fill(int connection, std::string& buffer, std::size_t want)
{
    char chunk[4096];
    while (buffer.size() < want) {
        pollfd ready{connection, POLLIN, 0};
        const ssize_t got = ::poll(&ready, 1, 5000) > 0 ? ::recv(connection, chunk, sizeof chunk, 0) : -1;
        if (got <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
    return true;
}

// Reads until `marker` stands at or past `from`; `at` is where.
bool readUntil(int connection, std::string& buffer, std::size_t from, const std::string& marker, std::size_t& at)
{
    while ((at = buffer.find(marker, from)) == std::string::npos)
        if (!fill(connection, buffer, buffer.size() + 1)) return false;
    return true;
}

// The value of a header field of the request's head, or nothing.
std::string field(const std::string& head, const std::string& name)
{
    for (std::size_t line = head.find("\r\n"); line != std::string::npos && line + 2 < head.size();) {
        const std::size_t end = head.find("\r\n", line + 2);
        const std::string text = head.substr(line + 2, end - line - 2);
        if (text.find(':') == name.size() && strncasecmp(text.c_str(), name.c_str(), name.size()) == 0)
            return text.substr(text.find_first_not_of(' ', name.size() + 1));
        line = end;
    }
    return {};
}

}  // namespace

RawHTTPRecorder::RawHTTPRecorder()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the raw recorder cannot listen");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        for (int connection; (connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(connection)) handle(connection);
    });
}

RawHTTPRecorder::~RawHTTPRecorder()
{
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
}

void RawHTTPRecorder::redirect(const std::string& from, const std::string& to, int status)
{
    std::lock_guard lock(m_mutex);
    m_answers[from] = Answer{status, to};
}

std::vector<RawHTTPRecorder::Request> RawHTTPRecorder::requests(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_recorded.find(path);
    return found == m_recorded.end() ? std::vector<Request>{} : found->second;
}

void RawHTTPRecorder::handle(int connection)
{
    std::string buffer;
    std::size_t headEnd = 0;
    if (!readUntil(connection, buffer, 0, "\r\n\r\n", headEnd)) return;
    Request request;
    request.head = buffer.substr(0, headEnd + 4);
    const std::size_t space = request.head.find(' ');
    request.method = request.head.substr(0, space);
    request.path = request.head.substr(space + 1, request.head.find_first_of(" ?", space + 1) - space - 1);
    std::size_t at = headEnd + 4;
    if (strcasecmp(field(request.head, "Transfer-Encoding").c_str(), "chunked") == 0) {
        for (std::size_t size = 1, lineEnd = 0; size > 0; at = lineEnd + 2 + size + 2) {
            if (!readUntil(connection, buffer, at, "\r\n", lineEnd)) return;
            size = std::strtoul(buffer.substr(at, lineEnd - at).c_str(), nullptr, 16);
            if (!fill(connection, buffer, lineEnd + 2 + size + 2)) return;
            request.body += buffer.substr(lineEnd + 2, size);
        }
    } else {
        const std::size_t length = std::strtoul(field(request.head, "Content-Length").c_str(), nullptr, 10);
        if (!fill(connection, buffer, at + length)) return;
        request.body = buffer.substr(at, length);
    }
    Answer answer;
    {
        std::lock_guard lock(m_mutex);
        if (auto found = m_answers.find(request.path); found != m_answers.end()) answer = found->second;
        m_recorded[request.path].push_back(request);
    }
    std::string reply = "HTTP/1.1 " + std::to_string(answer.status) + " Scripted\r\nConnection: close\r\n";
    if (!answer.location.empty()) reply += "Location: " + answer.location + "\r\n";
    reply += "Content-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
    ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
}

}  // namespace support
