#include "repository/BlobMarkCounter.h"

void BlobMarkCounter::transactionOpened()
{
    ++m_openTransactions;
}

void BlobMarkCounter::transactionClosed()
{
    if (--m_openTransactions == 0)
        m_nextMark = firstMark;
}

quint64 BlobMarkCounter::takeMark()
{
    return m_nextMark--;
}
