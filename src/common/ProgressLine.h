#pragma once

#include <QByteArray>
#include <QElapsedTimer>

// A line on standard error that a long task writes again and again to tell
// how far it is, when standard error is a terminal; nothing otherwise. Once
// written, it is wiped when the task ends.
class ProgressLine
{
public:
    // What goes before each text, and what wipes the line at the end.
    struct Style
    {
        const char *start;
        const char *wipe;
    };
    // Each text erases the line before it.
    static const Style erasing;
    // Each text is written over the line before it, which it is never
    // shorter than; the line is wiped with 60 blanks.
    static const Style overwriting;

    explicit ProgressLine(Style style = erasing);
    ~ProgressLine();

    ProgressLine(const ProgressLine &) = delete;
    ProgressLine &operator=(const ProgressLine &) = delete;

    bool shown() const { return m_shown; }
    // Milliseconds since the task began.
    qint64 elapsed() const { return m_clock.elapsed(); }
    void show(const QByteArray &text);

private:
    Style m_style;
    bool m_shown;
    bool m_written = false;
    QElapsedTimer m_clock;
};
