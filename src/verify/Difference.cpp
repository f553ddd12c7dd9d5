#include "verify/Difference.h"

QString Difference::text() const
{
    QString result = QStringLiteral("r%1 %2 %3 \"%4\": %5")
                             .arg(QString::number(revision), repository, branch, path, kind);
    if (!detail.isEmpty())
        result += QStringLiteral(" (%1)").arg(detail);
    return result;
}
