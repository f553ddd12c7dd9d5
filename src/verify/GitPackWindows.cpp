#include "verify/GitPackWindows.h"

#include <QByteArray>
#include <QList>
#include <QPair>

void boundGitPackWindows()
{
    bool ok = true;
    const QByteArray counted = qgetenv("GIT_CONFIG_COUNT");
    const int count = counted.isEmpty() ? 0 : counted.toInt(&ok);
    if (!ok || count < 0)
        return; // git refuses such a count anyway
    const QList<QPair<QByteArray, QByteArray>> settings = {
            {"core.packedGitWindowSize", "256k"}, {"core.packedGitLimit", "4m"}};
    for (int i = 0; i < settings.size(); ++i) {
        qputenv("GIT_CONFIG_KEY_" + QByteArray::number(count + i), settings.at(i).first);
        qputenv("GIT_CONFIG_VALUE_" + QByteArray::number(count + i), settings.at(i).second);
    }
    qputenv("GIT_CONFIG_COUNT", QByteArray::number(count + int(settings.size())));
}
