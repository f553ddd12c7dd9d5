#include "survey/GitDefaultBranch.h"

#include <QProcess>

QString GitDefaultBranch::name()
{
    QProcess git;
    git.start(QStringLiteral("git"), {QStringLiteral("config"), QStringLiteral("init.defaultBranch")});
    QString configured;
    if (git.waitForFinished(-1) && git.exitStatus() == QProcess::NormalExit && git.exitCode() == 0)
        configured = QString::fromUtf8(git.readAllStandardOutput()).trimmed();
    return configured.isEmpty() ? QStringLiteral("master") : configured;
}
