#pragma once

#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// Reads ahead, in a thread of its own with its own handle on the repository,
// what each coming revision changed (the directories on the way to each
// changed path, the files' properties and checksums, the texts of small
// changed files), so that the caches Subversion's libraries share within the
// process hold them when the walk of the history gets there. It only warms caches: nothing it reads is handed
// over, and a failure only ends it.
class RevisionPrefetcher
{
public:
    RevisionPrefetcher() = default;
    ~RevisionPrefetcher();

    RevisionPrefetcher(const RevisionPrefetcher &) = delete;
    RevisionPrefetcher &operator=(const RevisionPrefetcher &) = delete;

    // Reads revisions first to last of the repository at path.
    void start(const QString &path, int first, int last);
    // The walk has reached revision: reading may go a little further.
    void reached(int revision);

private:
    void run(const QString &path, int first, int last);
    bool waitFor(int revision);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_reached = 0;
    bool m_stop = false;
};
