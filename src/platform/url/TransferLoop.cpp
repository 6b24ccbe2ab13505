#include "platform/url/TransferLoop.h"

#include <curl/curl.h>

#include <algorithm>
#include <vector>

#include "platform/url/CurlSupport.h"
#include "platform/url/URLConnection.h"

namespace platform {

TransferLoop::TransferLoop()
{
    initialiseCurlOnce();
    m_multi = curl_multi_init();
}

TransferLoop::~TransferLoop()
{
    // A transfer still running when the loop ends is cancelled: its delegate hears nothing more and is let
    // go. A delegate that holds its own connection (every operation does until its transfer ends) would
    // otherwise keep itself and the connection alive for good.
    std::map<void*, std::shared_ptr<URLConnection>> unfinished;
    unfinished.swap(m_active);
    for (auto& [easy, connection] : unfinished) {
        curl_multi_remove_handle(static_cast<CURLM*>(m_multi), easy);
        connection->cancel();
    }
    unfinished.clear();
    curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

void TransferLoop::add(std::shared_ptr<URLConnection> connection)
{
    void* easy = connection->handle();
    m_active[easy] = std::move(connection);
    curl_multi_add_handle(static_cast<CURLM*>(m_multi), static_cast<CURL*>(easy));
}

void TransferLoop::remove(URLConnection& connection)
{
    auto found = m_active.find(connection.handle());
    if (found == m_active.end()) return;
    // Keep the connection alive until removal is complete even if the map held the last reference.
    std::shared_ptr<URLConnection> keep = std::move(found->second);
    m_active.erase(found);
    curl_multi_remove_handle(static_cast<CURLM*>(m_multi), static_cast<CURL*>(connection.handle()));
}

void TransferLoop::cancelled(URLConnection& connection)
{
    // curl forbids removing a handle from inside its own callbacks; the sweep after the round does it.
    if (!m_performing) remove(connection);
}

void TransferLoop::runOnce(std::chrono::milliseconds wait)
{
    auto* multi = static_cast<CURLM*>(m_multi);
    int running = 0;
    m_performing = true;
    curl_multi_perform(multi, &running);
    m_performing = false;

    int queued = 0;
    std::vector<std::pair<void*, CURLcode>> done;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE) done.emplace_back(message->easy_handle, message->data.result);
    for (auto [easy, code] : done) {
        auto found = m_active.find(easy);
        if (found == m_active.end()) continue;
        std::shared_ptr<URLConnection> connection = found->second;
        connection->transferDone(code);
    }

    const auto now = std::chrono::steady_clock::now();
    auto earliest = now + wait;
    std::vector<std::shared_ptr<URLConnection>> cancelledOnes, expired;
    for (auto& [easy, connection] : m_active) {
        if (connection->cancelled())
            cancelledOnes.push_back(connection);
        else if (connection->deadline() <= now)
            expired.push_back(connection);
        else
            earliest = std::min(earliest, connection->deadline());
    }
    for (auto& connection : cancelledOnes) remove(*connection);
    for (auto& connection : expired) connection->timedOut();
    if (!cancelledOnes.empty() || !expired.empty()) return;

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(earliest - now).count() + 1;
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::max<long long>(left, 0)), nullptr);
}

void TransferLoop::wakeUp()
{
    curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

}  // namespace platform
