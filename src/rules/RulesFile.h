#pragma once

#include "common/Failure.h"
#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class MatchCounter;
class QIODevice;

// The rules read from one file named on the command line, together with
// everything it includes. The first fault stops the reading; it comes back as
// a fatal failure.
class RulesFile
{
public:
    // Every completed match rule is registered with counter, when there is one.
    explicit RulesFile(const QString &fileName, MatchCounter *counter = nullptr);

    // Reads fileName into this object; also used for every included file.
    Status load(const QString &fileName);
    Status load() { return load(m_fileName); }

    QString fileName() const { return m_fileName; }
    const QList<RepositoryRule> &repositoryRules() const { return m_repositoryRules; }
    const QList<MatchRule> &matchRules() const { return m_matchRules; }
    const QMap<QString, QString> &variables() const { return m_variables; }

    // Far beyond any hand-written rules; they bound what a damaged or
    // hostile file (or a device given as one) can make the loader hold.
    static constexpr int maximumLineLength = 1 << 20;
    static constexpr long long maximumFileSize = 64ll << 20;

private:
    struct ReadState;

    // What a line handler says: taken, not one of this block's lines, or a fault.
    using LineResult = Result<bool>;

    Status readLines(QIODevice &file, ReadState &state);
    Status includeFile(const ReadState &state, const QString &includedName);
    Result<QString> replaceVariables(ReadState &state, const QString &line);
    Status interpretLine(ReadState &state, const QString &line, const QString &lineAsRead);
    LineResult interpretRepositoryLine(ReadState &state, const QString &line);
    LineResult interpretMatchLine(ReadState &state, const QString &line, const QString &lineAsRead);
    static Result<Substitution> parsedSubstitution(const ReadState &state, const QString &text,
                                                   const QString &lineAsRead);
    Status interpretOutsideLine(ReadState &state, const QString &line, const QString &lineAsRead);

    QString m_fileName;
    MatchCounter *m_counter;
    QList<RepositoryRule> m_repositoryRules;
    QList<MatchRule> m_matchRules;
    QMap<QString, QString> m_variables;
    // Files being read right now, outermost first: an include of one of them
    // would never end.
    QStringList m_loadingStack;
};
