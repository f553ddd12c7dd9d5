#include "repository/BlobMarkCounter.h"

void BlobMarkCounter::transactionOpened()
{
    ++openTransactions;
}

void BlobMarkCounter::transactionClosed()
{
    if (--openTransactions == 0)
        nextMark = firstMark;
}

quint64 BlobMarkCounter::takeMark()
{
    return nextMark--;
}
