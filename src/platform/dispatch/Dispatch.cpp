#include "platform/dispatch/Dispatch.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

namespace platform {

namespace {
std::atomic<Dispatch*> g_shared{nullptr};
const char* const kPoolLabels[] = {"global.high", "global.default", "global.low", "global.background"};
}

Dispatch::Dispatch(MainExecutor& mainExecutor, unsigned threadsPerPriority) : m_main(mainExecutor)
{
    for (std::size_t i = 0; i < m_global.size(); ++i)
        m_global[i] = std::make_unique<ThreadPool>(kPoolLabels[i], threadsPerPriority, mainExecutor);
}

Dispatch::~Dispatch()
{
    Dispatch* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

Queue& Dispatch::global(Priority priority) { return *m_global[static_cast<std::size_t>(priority)]; }

Queue& Dispatch::computation()
{
    std::call_once(m_computationMade, [this] {
        m_computation = std::make_unique<ThreadPool>("computation", std::max(1u, std::thread::hardware_concurrency()),
                                                     m_main.executor());
    });
    return *m_computation;
}

bool Dispatch::waitUntilIdle()
{
    bool busy = false;
    for (auto& pool : m_global) busy = pool->waitIdle() || busy;
    computation();
    return m_computation->waitIdle() || busy;
}

std::shared_ptr<SerialQueue> Dispatch::makeSerial(std::string label, Priority priority)
{
    return SerialQueue::create(std::move(label), global(priority), m_main.executor());
}

Dispatch& Dispatch::shared()
{
    Dispatch* dispatch = g_shared.load();
    if (dispatch == nullptr) throw std::logic_error("no Dispatch installed");
    return *dispatch;
}

void Dispatch::setShared(Dispatch* dispatch) { g_shared.store(dispatch); }

}  // namespace platform
