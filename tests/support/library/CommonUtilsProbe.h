#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "library/CommonUtils.h"
#include "platform/dispatch/SerialQueue.h"

// Delivers the coordinator's request time-out as its timer does, at a moment the test picks: an expiry
// that left the timer just as its request's result came is otherwise a matter of thread timing.
class CommonUtilsProbe {
public:
    // What an expiry armed now carries; taken on the coordinator's queue.
    using Ticket = std::pair<std::uint64_t, std::uint64_t>;
    static Ticket runningTicket(CommonUtils& utils)
    {
        Ticket ticket;
        utils.m_state->sync([&] { ticket = {utils.m_generation, utils.m_handOver}; });
        return ticket;
    }
    // The store's effect summaries as the state queue holds them; published again as `summaries`, as a merge
    // that read the store anew does.
    static std::vector<OKVSimpleEffect> effectSummaries(CommonUtils& utils)
    {
        std::vector<OKVSimpleEffect> summaries;
        utils.m_state->sync([&] { summaries = utils.m_okvEffectListFromServer; });
        return summaries;
    }
    static void publishEffectSummaries(CommonUtils& utils, std::vector<OKVSimpleEffect> summaries)
    {
        utils.m_state->sync([&] {
            utils.m_okvEffectListFromServer = std::move(summaries);
            utils.publishEffectTables();
        });
    }
    static void expire(CommonUtils& utils, Ticket ticket)
    {
        utils.post([&utils, ticket] { utils.actionTimeOut(ticket.first, ticket.second); });
    }
};
