#include "common/ProgressLine.h"

#include <cstdio>

#include <unistd.h>

const ProgressLine::Style ProgressLine::erasing = {"\r\033[K", "\r\033[K"};
const ProgressLine::Style ProgressLine::overwriting = {
        "\r", "\r                                                            \r"};

ProgressLine::ProgressLine(Style style)
    : m_style(style)
    , m_shown(isatty(STDERR_FILENO))
{
    m_clock.start();
}

ProgressLine::~ProgressLine()
{
    if (m_shown && m_written)
        fputs(m_style.wipe, stderr);
}

void ProgressLine::show(const QByteArray &text)
{
    if (!m_shown)
        return;
    fputs(m_style.start, stderr);
    fwrite(text.constData(), 1, size_t(text.size()), stderr);
    fflush(stderr);
    m_written = true;
}
