#pragma once

#include "verify/ConversionLog.h"

#include <QList>

#include <memory>
#include <vector>

// The branch states to check, from the logs of all repositories, in revision
// order (the first repository first within a revision): all of them, the last
// of each branch, or every Nth of a repository and the last of each branch.
class RecordedStates
{
public:
    struct Item
    {
        int repositoryIndex = 0;
        ConversionLog::State state;
        bool last = false; // the branch's last recorded state
    };

    // logs holds one log per repository, null for one the conversion never wrote to.
    RecordedStates(const std::vector<std::unique_ptr<ConversionLog>> &logs, bool lastOnly,
                   int every);

    bool next(Item *item);
    // The states the logs record, about.
    int total() const { return m_total; }
    // The states passed so far, checked or not.
    int passed() const { return m_passed; }

private:
    struct Head
    {
        bool valid = false;
        ConversionLog::State state;
        int index = 0; // of the state in its repository
    };
    void advance(int repositoryIndex);

    const std::vector<std::unique_ptr<ConversionLog>> &m_logs;
    bool m_lastOnly;
    int m_every;
    QList<Head> m_heads;
    int m_total = 0;
    int m_passed = 0;
};
