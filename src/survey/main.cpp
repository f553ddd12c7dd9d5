#include "survey/SurveyCommand.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// A Subversion failure carries the library's own text, printed before the
// program's line as the library would print it.
void printError(const Failure &failure)
{
    fwrite(failure.cause().constData(), 1, size_t(failure.cause().size()), stderr);
    fprintf(stderr, "tallowmere-survey: %s\n", failure.message().toLocal8Bit().constData());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const Result<SurveyCommand::Options> options =
            SurveyCommand::parse(QCoreApplication::arguments());
    if (!options) {
        printError(options.failure());
        return SurveyCommand::BadUsage;
    }
    if (!options.value().answer.isEmpty()) {
        fputs(options.value().answer.toLocal8Bit().constData(), stdout);
        return SurveyCommand::Success;
    }
    const Result<SurveyCommand::ExitCode> outcome = SurveyCommand(options.value()).run();
    if (!outcome) {
        printError(outcome.failure());
        return SurveyCommand::Problems;
    }
    return outcome.value();
}
