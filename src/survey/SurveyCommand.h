#pragma once

#include <QString>
#include <QStringList>

// The tallowmere-survey program: reads its command line, surveys the
// history, writes the files asked for and checks rules.
class SurveyCommand
{
public:
    enum ExitCode { Success = 0, Problems = 1, BadUsage = 2 };

    // Returns the exit code.
    int run(const QStringList &arguments);

private:
    struct Options
    {
        QString repositoryPath;
        QString rulesOutput;
        QString identitiesOutput;
        QString identityDomain;
        QString rulesToCheck;
        bool json = false;
    };

    int survey(const Options &options);
    int checkRules(const Options &options);
    static bool writeFile(const QString &fileName, const QByteArray &contents);
    static void writeOut(const QByteArray &text);
};
