#include "rules/Substitution.h"

namespace {

// Number of backslashes directly before position, not looking further left
// than firstIndex.
int backslashesBefore(const QString &text, int position, int firstIndex)
{
    int count = 0;
    for (int i = position - 1; i >= firstIndex && text.at(i) == QLatin1Char('\\'); --i)
        ++count;
    return count;
}

} // namespace

QString Substitution::apply(const QString &text) const
{
    return regexp.replaceIn(text, replacement);
}

Substitution parseSubstitution(const QString &text)
{
    const int patternStart = 2;
    if (!text.startsWith(QLatin1Char('s')) || text.length() <= 4 || text.at(1) != text.at(text.length() - 1))
        return Substitution();

    const QChar delimiter = text.at(1);
    int patternEnd = text.indexOf(delimiter, patternStart);
    // An odd run of backslashes escapes the delimiter; it then belongs to the pattern.
    while (patternEnd != -1 && backslashesBefore(text, patternEnd, patternStart) % 2 == 1)
        patternEnd = text.indexOf(delimiter, patternEnd + 1);
    if (patternEnd == -1)
        return Substitution();

    Substitution substitution;
    substitution.regexp = QRegExp(text.mid(patternStart, patternEnd - patternStart), Qt::CaseSensitive,
                                  QRegExp::RegExp);
    if (substitution.regexp.isEmpty() || !substitution.regexp.isValid())
        return Substitution();
    const int replacementStart = patternEnd + 1;
    const int replacementLength = text.length() - 1 - replacementStart;
    if (replacementLength > 0)
        substitution.replacement = text.mid(replacementStart, replacementLength);
    return substitution;
}
