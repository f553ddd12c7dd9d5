#include "survey/SurveyCommand.h"

#include "common/Version.h"
#include "rules/RulesFileSet.h"
#include "svn/ChangedPathsReader.h"
#include "svn/SvnSource.h"
#include "survey/GitDefaultBranch.h"
#include "survey/HistorySurvey.h"
#include "survey/IdentitySkeleton.h"
#include "survey/RulesCheck.h"
#include "survey/StarterRules.h"
#include "survey/SurveyReport.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>
#include <memory>

namespace {

// The dispatch traces every path at debug level; a check shows its
// warnings and errors only. (Qt itself ends the process after a fatal one.)
void withoutDebugMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

void printError(const QString &text)
{
    fprintf(stderr, "tallowmere-survey: %s\n", text.toLocal8Bit().constData());
}

void printError(const Failure &failure)
{
    fwrite(failure.cause().constData(), 1, size_t(failure.cause().size()), stderr);
    printError(failure.message());
}

} // namespace

int SurveyCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Surveys a Subversion repository before a conversion: its layout, authors and "
            "what needs a decision; writes starter rules and an identity map; checks rules "
            "against the whole history."));
    parser.addPositionalArgument(QStringLiteral("SVNREPO"),
                                 QStringLiteral("the Subversion repository on disk"));
    const QCommandLineOption writeRules(QStringLiteral("write-rules"),
                                        QStringLiteral("write starter rules into FILE"),
                                        QStringLiteral("FILE"));
    const QCommandLineOption writeIdentities(
            QStringLiteral("write-identities"),
            QStringLiteral("write an identity-map skeleton into FILE"), QStringLiteral("FILE"));
    const QCommandLineOption identityDomain(
            QStringLiteral("identity-domain"),
            QStringLiteral("the mail domain of the identity-map skeleton"),
            QStringLiteral("DOMAIN"));
    const QCommandLineOption checkRules(
            QStringLiteral("check-rules"),
            QStringLiteral("check the rules file(s) against every revision; convert nothing"),
            QStringLiteral("FILE[,FILE]"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("write the report as JSON"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("show help"));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("show version"));
    parser.addOptions({writeRules, writeIdentities, identityDomain, checkRules, json, help,
                       version});

    if (!parser.parse(arguments)) {
        printError(parser.errorText());
        return BadUsage;
    }
    if (parser.isSet(help)) {
        fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return Success;
    }
    if (parser.isSet(version)) {
        printf("tallowmere-survey %s\n", TALLOWMERE_VERSION);
        return Success;
    }
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("give exactly one Subversion repository (see --help)"));
        return BadUsage;
    }
    Options options;
    options.repositoryPath = parser.positionalArguments().constFirst();
    options.rulesOutput = parser.value(writeRules);
    options.identitiesOutput = parser.value(writeIdentities);
    options.identityDomain = parser.value(identityDomain);
    options.rulesToCheck = parser.value(checkRules);
    options.json = parser.isSet(json);
    if (!options.identitiesOutput.isEmpty() && options.identityDomain.isEmpty()) {
        printError(QStringLiteral("--write-identities needs --identity-domain DOMAIN"));
        return BadUsage;
    }
    if (parser.isSet(checkRules) && options.rulesToCheck.isEmpty()) {
        printError(QStringLiteral("--check-rules needs a rules file"));
        return BadUsage;
    }

    if (const Status initialized = SvnSource::initializeSvnLibraries(); !initialized) {
        printError(initialized.failure());
        return Problems;
    }
    if (!options.rulesToCheck.isEmpty()) {
        const bool alsoSurvey = !options.rulesOutput.isEmpty() || !options.identitiesOutput.isEmpty();
        if (alsoSurvey) {
            printError(QStringLiteral("--check-rules cannot be combined with --write-rules or "
                                      "--write-identities"));
            return BadUsage;
        }
        return this->checkRules(options);
    }
    return survey(options);
}

int SurveyCommand::survey(const Options &options)
{
    Result<ChangedPathsReader *> opened = ChangedPathsReader::open(options.repositoryPath);
    if (!opened) {
        printError(opened.failure());
        return Problems;
    }
    std::unique_ptr<ChangedPathsReader> reader(opened.value());
    HistorySurvey history;
    const Status status = history.run(*reader);
    if (!status) {
        printError(status.failure());
        return Problems;
    }

    if (!options.rulesOutput.isEmpty()) {
        const QString name = QFileInfo(options.repositoryPath).canonicalFilePath().section(
                QLatin1Char('/'), -1);
        const QString rules = StarterRules::write(history, name, GitDefaultBranch::name());
        if (!writeFile(options.rulesOutput, rules.toUtf8()))
            return Problems;
    }
    if (!options.identitiesOutput.isEmpty()) {
        const QByteArray skeleton =
                IdentitySkeleton::write(history.authors(), options.identityDomain);
        if (!writeFile(options.identitiesOutput, skeleton))
            return Problems;
    }
    if (options.json)
        writeOut(QJsonDocument(SurveyReport::json(history)).toJson());
    else
        writeOut(SurveyReport::text(history).toUtf8());
    return Success;
}

bool SurveyCommand::writeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()
        || !file.flush()) {
        printError(QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString()));
        return false;
    }
    return true;
}

void SurveyCommand::writeOut(const QByteArray &text)
{
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
}

int SurveyCommand::checkRules(const Options &options)
{
    qInstallMessageHandler(withoutDebugMessages);
    RulesCheck check;
    RulesFileSet rules(options.rulesToCheck, &check);
    if (const Status loaded = rules.load(); !loaded) {
        printError(loaded.failure());
        return Problems;
    }
    Result<ChangedPathsReader *> opened = ChangedPathsReader::open(options.repositoryPath);
    if (!opened) {
        printError(opened.failure());
        return Problems;
    }
    std::unique_ptr<ChangedPathsReader> reader(opened.value());
    const Status status = check.run(*reader, rules);
    if (!status) {
        printError(status.failure());
        return Problems;
    }
    if (options.json)
        writeOut(QJsonDocument(check.jsonReport()).toJson());
    else
        writeOut(check.textReport().toUtf8());
    return check.hasProblems() ? Problems : Success;
}
