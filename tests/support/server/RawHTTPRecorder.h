#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace support {

// A plain HTTP/1.1 listener on 127.0.0.1 that keeps every request exactly as it came over the wire, for
// bodies the loopback server's library would take apart (multipart forms). One request per connection;
// a body is read by its Content-Length or its chunks (kept de-chunked). Paths answer 200 with "{}" as
// JSON unless told to redirect.
class RawHTTPRecorder {
public:
    struct Request {
        std::string method;
        std::string path;
        std::string head;
        std::string body;
    };

    RawHTTPRecorder();
    ~RawHTTPRecorder();
    RawHTTPRecorder(const RawHTTPRecorder&) = delete;
    RawHTTPRecorder& operator=(const RawHTTPRecorder&) = delete;

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    void redirect(const std::string& from, const std::string& to, int status);
    std::vector<Request> requests(const std::string& path) const;

private:
    struct Answer {
        int status = 200;
        std::string location;
    };
    void handle(int connection);

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, Answer> m_answers;
    std::map<std::string, std::vector<Request>> m_recorded;
};

}  // namespace support
