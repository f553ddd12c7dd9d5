#pragma once

#include "common/Failure.h"
#include "verify/Difference.h"

#include <QList>

#include <atomic>

#include <sys/types.h>

class StateWalk;
class VerifyReport;

// Runs a stretch of the walk in a child process. Subversion's libraries share
// their caches between the threads of a process behind locks, and two busy
// walks in one process spend their time waiting on each other there; two
// processes walk side by side as fast as each alone. The child is forked
// while this process runs no other thread; it hands back what it found
// through a pipe and ends.
class StretchProcess
{
public:
    // What the walks in both processes see: whether one failed, so that the
    // others stop, and how many states they passed, for the progress line.
    struct Shared
    {
        std::atomic<bool> stop{false};
        std::atomic<int> passed{0};
    };

    StretchProcess() = default;
    // Ends a child still running.
    ~StretchProcess();

    StretchProcess(const StretchProcess &) = delete;
    StretchProcess &operator=(const StretchProcess &) = delete;

    // Memory for a Shared that a child forked later shares; null when none
    // can be had. Freed with freeShared.
    static Shared *makeShared();
    static void freeShared(Shared *shared);

    // Forks a child that runs walk and ends.
    Status start(StateWalk &walk);
    // Waits for the child to end: its outcome, with the differences it
    // found added to differences and the states it checked to report.
    Status finish(QList<Difference> *differences, VerifyReport *report);

private:
    pid_t m_child = -1;
    int m_pipe = -1; // the end the child's outcome is read from
};
