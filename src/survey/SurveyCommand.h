#pragma once

#include "common/Failure.h"

#include <QString>
#include <QStringList>

// The tallowmere-survey program: reads its command line, surveys the
// history, writes the files asked for and checks rules. Failures come back
// as values; the program's entry prints them and picks the exit code.
class SurveyCommand
{
public:
    enum ExitCode { Success = 0, Problems = 1, BadUsage = 2 };

    struct Options
    {
        QString repositoryPath;
        QString rulesOutput;
        QString identitiesOutput;
        QString identityDomain;
        QString rulesToCheck;
        bool json = false;
        // --help and --version: the text to print instead of running.
        QString answer;
    };

    // The options of a command line; a failure is a fault of its usage.
    static Result<Options> parse(const QStringList &arguments);

    explicit SurveyCommand(const Options &options) : m_options(options) {}

    // Surveys the history or checks the rules and writes the report on
    // standard output: Success, or Problems when the check found some.
    Result<ExitCode> run();

private:
    Status survey();
    Result<ExitCode> checkRules();

    Options m_options;
};
