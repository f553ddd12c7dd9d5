#pragma once

#include "rules/MatchRule.h"
#include "rules/RepositoryRule.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class QIODevice;

// The rules read from one file named on the command line, together with
// everything it includes. Every fault ends the process with a fatal message.
class RulesFile
{
public:
    explicit RulesFile(const QString &fileName);

    // Reads fileName into this object; also used for every included file.
    void load(const QString &fileName);
    void load() { load(m_fileName); }

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

    void readLines(QIODevice &file, ReadState &state);
    void includeFile(const ReadState &state, const QString &includedName);
    QString replaceVariables(ReadState &state, const QString &line);
    void interpretLine(ReadState &state, const QString &line, const QString &lineAsRead);
    bool interpretRepositoryLine(ReadState &state, const QString &line);
    bool interpretMatchLine(ReadState &state, const QString &line, const QString &lineAsRead);
    static Substitution substitutionOrFatal(const ReadState &state, const QString &text, const QString &lineAsRead);
    void interpretOutsideLine(ReadState &state, const QString &line, const QString &lineAsRead);

    QString m_fileName;
    QList<RepositoryRule> m_repositoryRules;
    QList<MatchRule> m_matchRules;
    QMap<QString, QString> m_variables;
    // Files being read right now, outermost first: an include of one of them
    // would never end.
    QStringList m_loadingStack;
};
