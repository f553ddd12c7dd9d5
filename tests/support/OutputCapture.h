#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>
#include <QTemporaryFile>
#include <QtGlobal>
#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

// Capture of what a test runs writes: standard output and error, Qt log
// messages; and an argument vector for the command-line parser.
namespace TestSupport {

// Runs action with the file descriptor fd (1 or 2) sent to a temporary file
// and returns every byte written to it.
inline QByteArray captureDescriptor(int fd, const std::function<void()> &action)
{
    QTemporaryFile sink;
    if (!sink.open())
        return QByteArray("<cannot create capture file>");
    fflush(stdout);
    fflush(stderr);
    const int saved = dup(fd);
    dup2(sink.handle(), fd);
    action();
    fflush(stdout);
    fflush(stderr);
    dup2(saved, fd);
    close(saved);
    QFile written(sink.fileName());
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

inline QByteArray captureStdout(const std::function<void()> &action)
{
    return captureDescriptor(1, action);
}

inline QByteArray captureStderr(const std::function<void()> &action)
{
    return captureDescriptor(2, action);
}

// Collects Qt log messages while it lives, each prefixed with its level:
// "D: ", "I: ", "W: ", "C: " or "F: " (debug, info, warning, critical, fatal).
class MessageCapture
{
public:
    MessageCapture()
    {
        messages().clear();
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(m_previous); }

    QStringList all() const { return messages(); }
    QStringList warnings() const { return ofLevel('W'); }
    // The messages of one level ('D', 'W', 'C' and so on), without the prefix.
    QStringList ofLevel(char level) const
    {
        return withPrefix(QString(QLatin1Char(level)) + QLatin1String(": "));
    }
    // Whether a message, prefix included, was collected.
    bool contains(const QString &message) const { return messages().contains(message); }
    // Every message's text, without its level.
    QStringList texts() const
    {
        QStringList result;
        for (const QString &message : messages())
            result.append(message.mid(3));
        return result;
    }
    bool containsText(const QString &text) const { return texts().contains(text); }

private:
    static QStringList &messages()
    {
        static QStringList collected;
        return collected;
    }
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        const char *prefix = type == QtDebugMsg      ? "D: "
                           : type == QtInfoMsg     ? "I: "
                           : type == QtWarningMsg  ? "W: "
                           : type == QtCriticalMsg ? "C: "
                                                   : "F: ";
        messages().append(QLatin1String(prefix) + text);
    }
    static QStringList withPrefix(const QString &prefix)
    {
        QStringList result;
        for (const QString &message : messages()) {
            if (message.startsWith(prefix))
                result.append(message.mid(prefix.length()));
        }
        return result;
    }

    QtMessageHandler m_previous;
};

// An argument vector that stays alive as long as the parser may read it.
class ArgumentVector
{
public:
    ArgumentVector() : ArgumentVector(std::initializer_list<const char *>{}) {}
    ArgumentVector(std::initializer_list<const char *> words)
    {
        m_words.emplace_back("tallowmere");
        for (const char *word : words)
            m_words.emplace_back(word);
        for (std::string &word : m_words)
            m_pointers.push_back(word.data());
        m_pointers.push_back(nullptr);
    }
    int count() const { return int(m_words.size()); }
    char **vector() { return m_pointers.data(); }

private:
    std::vector<std::string> m_words;
    std::vector<char *> m_pointers;
};

} // namespace TestSupport
