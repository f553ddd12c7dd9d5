#pragma once

#include "OutputCapture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace RulesTest {

// A temporary directory that is the current directory while it lives, so
// that rules files can be named relative to it.
class RulesDirectory
{
public:
    RulesDirectory() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_directory.path()); }
    ~RulesDirectory() { QDir::setCurrent(m_previous); }

    void write(const QString &relativeName, const QByteArray &contents) const
    {
        const QString path = m_directory.filePath(relativeName);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(contents);
    }
    QString path() const { return m_directory.path(); }

private:
    QTemporaryDir m_directory;
    QString m_previous;
};

} // namespace RulesTest
