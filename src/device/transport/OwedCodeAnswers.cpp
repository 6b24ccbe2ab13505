#include "device/transport/OwedCodeAnswers.h"

void OwedCodeAnswers::chainCut()
{
    if (m_owed < kMostOwed) ++m_owed;
}

void OwedCodeAnswers::strayArrived()
{
    if (m_unawaited > 0) --m_unawaited;
    else if (m_owed > 0) --m_owed;
}
