#include "device/transport/OwedCodeAnswers.h"

#include <algorithm>

OwedCodeAnswers::State OwedCodeAnswers::state() const
{
    switch (m_phase) {
    case Phase::Probing: return State::Probing;
    case Phase::Acknowledging: return State::Acknowledging;
    case Phase::None: break;
    }
    const bool valuesOwed =
        std::any_of(m_values.begin(), m_values.end(), [](const std::deque<Request>& owed) { return !owed.empty(); });
    return m_codes.empty() && !valuesOwed ? State::Settled : State::Owed;
}

void OwedCodeAnswers::owe(std::deque<Request>& owed, Request at)
{
    owed.insert(std::upper_bound(owed.begin(), owed.end(), at), at);
}

void OwedCodeAnswers::settleBefore(Request from)
{
    const auto before = [from](std::deque<Request>& owed) {
        owed.erase(owed.begin(), std::lower_bound(owed.begin(), owed.end(), from));
    };
    before(m_codes);
    for (std::deque<Request>& owed : m_values) before(owed);
}

void OwedCodeAnswers::codeCut(Request at)
{
    owe(m_codes, at);
    ++m_unsettled;
}

void OwedCodeAnswers::valueCut(std::size_t kind, Request at)
{
    if (kind < kKinds) owe(m_values[kind], at);
}

void OwedCodeAnswers::unawaitedSent(Request at)
{
    owe(m_codes, at);
    ++m_unsettled;
}

void OwedCodeAnswers::strayCode()
{
    if (!m_codes.empty()) m_codes.pop_front();
    if (m_unsettled > 0) --m_unsettled;
}

void OwedCodeAnswers::strayValue(std::size_t kind)
{
    if (valueOwed(kind)) m_values[kind].pop_front();
}

bool OwedCodeAnswers::codeTaken(Request at)
{
    // A code owed for an earlier request comes first, if at all: this may be it, and then the request's
    // own is the one still to come.
    const bool early = !m_codes.empty() && m_codes.front() < at;
    if (early) {
        m_codes.pop_front();
        owe(m_codes, at);
    }
    return early || m_unsettled > 0;
}

void OwedCodeAnswers::valueTaken(std::size_t kind, Request at)
{
    // A late value of the kind would come first and be taken here: it answers the oldest request it is
    // owed for, or a later one.
    settleBefore(valueOwed(kind) ? m_values[kind].front() : at);
}

bool OwedCodeAnswers::mustProbe(bool code, std::size_t kind) const
{
    return m_phase == Phase::None && ((code && !m_codes.empty()) || valueOwed(kind));
}

bool OwedCodeAnswers::settlesAll(std::size_t kind) const
{
    if (kind >= kKinds) return false;
    if (m_values[kind].empty()) return true;
    Request newest = m_codes.empty() ? 0 : m_codes.back();
    for (std::size_t other = 0; other < kKinds; ++other)
        if (other != kind && !m_values[other].empty()) newest = std::max(newest, m_values[other].back());
    return m_values[kind].front() > newest;
}

void OwedCodeAnswers::probeAnswered()
{
    m_phase = Phase::Acknowledging;
    m_unsettled = 0;
}
