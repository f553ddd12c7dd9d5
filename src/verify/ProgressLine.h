#pragma once

#include <QElapsedTimer>

// The line on a terminal's standard error that tells how far the check is,
// with an estimate of the time left; nothing when standard error is no terminal.
class ProgressLine
{
public:
    explicit ProgressLine(int total);
    ~ProgressLine();

    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    void update(int done);

private:
    int m_total;
    bool m_shown;
    bool m_written = false;
    qint64 m_next = 0;
    QElapsedTimer m_clock;
};
