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

// The program's own messages are whole sentences, printed as they stand.
Failure fault(const QString &text)
{
    return Failure::fatal(text);
}

Status writeFile(const QString &fileName, const QByteArray &contents)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()
        || !file.flush())
        return fault(QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString()));
    return Status();
}

void writeOut(const QByteArray &text)
{
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
}

} // namespace

Result<SurveyCommand::Options> SurveyCommand::parse(const QStringList &arguments)
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

    if (!parser.parse(arguments))
        return fault(parser.errorText());
    Options options;
    if (parser.isSet(help)) {
        options.answer = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.answer =
                QStringLiteral("tallowmere-survey %1\n").arg(QLatin1String(TALLOWMERE_VERSION));
        return options;
    }
    if (parser.positionalArguments().size() != 1)
        return fault(QStringLiteral("give exactly one Subversion repository (see --help)"));
    options.repositoryPath = parser.positionalArguments().constFirst();
    options.rulesOutput = parser.value(writeRules);
    options.identitiesOutput = parser.value(writeIdentities);
    options.identityDomain = parser.value(identityDomain);
    options.rulesToCheck = parser.value(checkRules);
    options.json = parser.isSet(json);
    if (!options.identitiesOutput.isEmpty() && options.identityDomain.isEmpty())
        return fault(QStringLiteral("--write-identities needs --identity-domain DOMAIN"));
    if (parser.isSet(checkRules) && options.rulesToCheck.isEmpty())
        return fault(QStringLiteral("--check-rules needs a rules file"));
    const bool alsoSurvey = !options.rulesOutput.isEmpty() || !options.identitiesOutput.isEmpty();
    if (!options.rulesToCheck.isEmpty() && alsoSurvey)
        return fault(QStringLiteral("--check-rules cannot be combined with --write-rules or "
                                         "--write-identities"));
    return options;
}

Result<SurveyCommand::ExitCode> SurveyCommand::run()
{
    if (const Status initialized = SvnSource::initializeSvnLibraries(); !initialized)
        return initialized.failure();
    if (!m_options.rulesToCheck.isEmpty())
        return checkRules();
    if (const Status surveyed = survey(); !surveyed)
        return surveyed.failure();
    return Success;
}

Status SurveyCommand::survey()
{
    Result<ChangedPathsReader *> opened = ChangedPathsReader::open(m_options.repositoryPath);
    if (!opened)
        return opened.status();
    std::unique_ptr<ChangedPathsReader> reader(opened.value());
    HistorySurvey history;
    if (const Status read = history.run(*reader); !read)
        return read;

    if (!m_options.rulesOutput.isEmpty()) {
        const QString name = QFileInfo(m_options.repositoryPath).canonicalFilePath().section(
                QLatin1Char('/'), -1);
        const QString rules = StarterRules::write(history, name, GitDefaultBranch::name());
        if (const Status written = writeFile(m_options.rulesOutput, rules.toUtf8()); !written)
            return written;
    }
    if (!m_options.identitiesOutput.isEmpty()) {
        const QByteArray skeleton =
                IdentitySkeleton::write(history.authors(), m_options.identityDomain);
        if (const Status written = writeFile(m_options.identitiesOutput, skeleton); !written)
            return written;
    }
    if (m_options.json)
        writeOut(QJsonDocument(SurveyReport::json(history)).toJson());
    else
        writeOut(SurveyReport::text(history).toUtf8());
    return Status();
}

Result<SurveyCommand::ExitCode> SurveyCommand::checkRules()
{
    qInstallMessageHandler(withoutDebugMessages);
    RulesCheck check;
    RulesFileSet rules(m_options.rulesToCheck, &check);
    if (const Status loaded = rules.load(); !loaded)
        return loaded.failure();
    Result<ChangedPathsReader *> opened = ChangedPathsReader::open(m_options.repositoryPath);
    if (!opened)
        return opened.failure();
    std::unique_ptr<ChangedPathsReader> reader(opened.value());
    if (const Status checked = check.run(*reader, rules); !checked)
        return checked.failure();
    if (m_options.json)
        writeOut(QJsonDocument(check.jsonReport()).toJson());
    else
        writeOut(check.textReport().toUtf8());
    return check.hasProblems() ? Problems : Success;
}
