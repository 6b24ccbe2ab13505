#include "device/transport/OwedCodeAnswers.h"

#include <algorithm>

OwedCodeAnswers::State OwedCodeAnswers::state() const
{
    switch (m_phase) {
    case Phase::Probing: return State::Probing;
    case Phase::Acknowledging: return State::Acknowledging;
    case Phase::None: break;
    }
    const bool valuesOwed = std::any_of(m_values.begin(), m_values.end(), [](std::uint32_t n) { return n > 0; });
    return m_codes.empty() && !valuesOwed ? State::Settled : State::Owed;
}

void OwedCodeAnswers::owe(Request at)
{
    m_codes.insert(std::upper_bound(m_codes.begin(), m_codes.end(), at), at);
}

void OwedCodeAnswers::codeCut(Request at)
{
    owe(at);
    ++m_unsettled;
}

void OwedCodeAnswers::valueCut(std::size_t kind)
{
    if (kind < kKinds) ++m_values[kind];
}

void OwedCodeAnswers::unawaitedSent(Request at)
{
    owe(at);
    ++m_unsettled;
}

void OwedCodeAnswers::strayCode()
{
    if (!m_codes.empty()) m_codes.pop_front();
    if (m_unsettled > 0) --m_unsettled;
}

void OwedCodeAnswers::strayValue(std::size_t kind)
{
    if (kind < kKinds && m_values[kind] > 0) --m_values[kind];
}

bool OwedCodeAnswers::codeTaken(Request at)
{
    // A code owed for an earlier request comes first, if at all: this may be it, and then the request's
    // own is the one still to come.
    const bool early = !m_codes.empty() && m_codes.front() < at;
    if (early) {
        m_codes.pop_front();
        owe(at);
    }
    return early || m_unsettled > 0;
}

void OwedCodeAnswers::valueTaken(std::size_t kind, Request at)
{
    // A late value of the kind would come first and be taken here: it proves nothing.
    if (valueOwed(kind)) return;
    m_codes.erase(m_codes.begin(), std::lower_bound(m_codes.begin(), m_codes.end(), at));
    m_values.fill(0);
}

void OwedCodeAnswers::probeAnswered()
{
    m_phase = Phase::Acknowledging;
    m_unsettled = 0;
}

bool OwedCodeAnswers::probeAcknowledged()
{
    m_phase = Phase::None;
    return m_codes.empty();
}
