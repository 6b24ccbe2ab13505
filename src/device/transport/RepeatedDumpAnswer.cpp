#include "device/transport/RepeatedDumpAnswer.h"

void RepeatedDumpAnswer::askedAgain(const Slot& slot)
{
    m_state = State::AskedAgain;
    m_slot = slot;
    m_patch.clear();
}

void RepeatedDumpAnswer::taken(const Slot& slot, const std::vector<std::uint8_t>& patch)
{
    // The unit answers in order: once another slot's patch is taken, no earlier ask's answer is still due.
    if (m_state != State::AskedAgain || slot != m_slot) {
        m_state = State::Idle;
        m_patch.clear();
        return;
    }
    m_state = State::Answered;
    m_patch = patch;
}

bool RepeatedDumpAnswer::isOtherAnswer(const Slot& slot, const std::vector<std::uint8_t>& patch)
{
    if (m_state != State::Answered || slot != m_slot || patch != m_patch) return false;
    m_state = State::Idle;
    m_patch.clear();
    return true;
}
