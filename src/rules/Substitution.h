#pragma once

#include <QRegExp>
#include <QString>

// A rewrite of a repository or branch name, written s/PATTERN/REPLACEMENT/ in
// a rules file. The replacement may use the back-references \1 to \9.
struct Substitution
{
    QRegExp regexp;
    QString replacement;

    bool isValid() const { return !regexp.isEmpty(); }
    // Replaces every match of regexp in text, expanding back-references.
    QString apply(const QString &text) const;
};

// Reads "s" + delimiter + pattern + delimiter + replacement + delimiter.
// Returns an invalid Substitution when the text is not of that form or the
// pattern does not compile.
Substitution parseSubstitution(const QString &text);
