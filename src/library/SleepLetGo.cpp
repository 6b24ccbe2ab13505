#include "library/SleepLetGo.h"

void SleepLetGo::begin(std::uint64_t wakes, bool unitConnected)
{
    m_wakes = wakes;
    m_state = unitConnected ? State::LettingGo : State::Released;
}

bool SleepLetGo::letGo()
{
    if (m_state != State::LettingGo) return false;
    m_state = State::Released;
    return true;
}

bool SleepLetGo::timeRanOut(std::uint64_t wakes)
{
    if (m_state != State::LettingGo || wakes != m_wakes) return false;
    m_state = State::Forced;
    return true;
}
