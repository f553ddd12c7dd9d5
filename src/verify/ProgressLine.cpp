#include "verify/ProgressLine.h"

#include <cstdio>

#include <unistd.h>

ProgressLine::ProgressLine(int total)
    : m_total(total)
    , m_shown(isatty(STDERR_FILENO))
{
    m_clock.start();
}

ProgressLine::~ProgressLine()
{
    if (m_shown && m_written)
        fprintf(stderr, "\r\033[K");
}

void ProgressLine::update(int done)
{
    if (!m_shown || m_clock.elapsed() < m_next)
        return;
    m_next = m_clock.elapsed() + 500;
    const qint64 left = done > 0 ? m_clock.elapsed() * (m_total - done) / done / 1000 : 0;
    fprintf(stderr, "\r\033[Kchecked %d of %d branch states, about %llds left", done, m_total,
            static_cast<long long>(left));
    m_written = true;
}
