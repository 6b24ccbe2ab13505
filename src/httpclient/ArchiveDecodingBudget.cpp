#include "httpclient/ArchiveDecodingBudget.h"

namespace {

struct OpenBudget {
    bool open = false;
    std::uint64_t spent = 0;
    ArchiveDecodingBudget::State state = ArchiveDecodingBudget::State::Open;
};

thread_local OpenBudget t_budget;

}  // namespace

ArchiveDecodingBudget::ArchiveDecodingBudget() : m_outermost(!t_budget.open)
{
    if (m_outermost) t_budget = OpenBudget{true, 0, State::Open};
}

ArchiveDecodingBudget::~ArchiveDecodingBudget()
{
    if (m_outermost) t_budget = OpenBudget{};
}

ArchiveDecodingBudget::State ArchiveDecodingBudget::state() const { return t_budget.state; }

bool ArchiveDecodingBudget::draw(std::uint64_t cost)
{
    if (!t_budget.open) return true;
    if (t_budget.state == State::Spent) return false;
    if (cost > kMaximumCost - t_budget.spent) {
        t_budget.state = State::Spent;
        return false;
    }
    t_budget.spent += cost;
    return true;
}
