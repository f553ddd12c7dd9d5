#include "driver/IdentityMap.h"

#include <QFile>
#include <cstdio>

namespace {

// "jdoe = John Doe <jdoe@example.com>" or "jdoe John Doe <jdoe@example.com>".
// The name before " = " is kept as written, trailing blanks included.
void addEntry(const QByteArray &line, IdentityMap &identities)
{
    const int separator = line.indexOf(" = ");
    if (separator != -1) {
        identities.insert(line.left(separator), line.mid(separator + 2).trimmed());
        return;
    }
    const int firstSpace = line.indexOf(' ');
    identities.insert(line.left(firstSpace), line.mid(firstSpace + 1).trimmed());
}

} // namespace

IdentityMap readIdentityMap(const QString &fileName)
{
    IdentityMap identities;
    if (fileName.isEmpty())
        return identities;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "Could not open file %s: %s", fileName.toLocal8Bit().constData(),
                file.errorString().toLocal8Bit().constData());
        return identities;
    }

    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        const int commentStart = line.indexOf('#');
        if (commentStart != -1)
            line.truncate(commentStart);
        line = line.trimmed();
        // A line without a blank names nobody; only a space separates, not a tab.
        if (line.isEmpty() || !line.contains(' '))
            continue;
        addEntry(line, identities);
    }
    return identities;
}
