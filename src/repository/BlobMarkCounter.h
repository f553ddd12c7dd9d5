#pragma once

#include <QtGlobal>

// The marks of the blobs sent for the open transactions of one repository.
// They count down from the top of the mark space, so that they never meet
// the commit marks counting up from 1, and only need to be unique among the
// transactions open at the same time: once none is open they start again.
class BlobMarkCounter
{
public:
    static constexpr quint64 firstMark = 18446744073709551614ull;

    void transactionOpened();
    void transactionClosed();
    quint64 takeMark();

private:
    quint64 m_nextMark = firstMark;
    int m_openTransactions = 0;
};
