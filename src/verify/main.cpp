#include "verify/Verifier.h"

#include "common/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    // The rules loader reports what it reads at debug level; only warnings matter here.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication::setApplicationName(QStringLiteral("tallowmere-verify"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLOWMERE_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Checks a conversion made by tallowmere, in the current directory, against "
            "the Subversion repository it was made from."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption rules(QStringLiteral("rules"),
                                   QStringLiteral("The rules files of the conversion."),
                                   QStringLiteral("FILE[,FILE]"));
    const QCommandLineOption heads(QStringLiteral("heads"),
                                   QStringLiteral("Check only the last state of each branch."));
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Check every Nth state and all heads."),
                                    QStringLiteral("N"));
    const QCommandLineOption repository(QStringLiteral("repository"),
                                        QStringLiteral("Check only this repository."),
                                        QStringLiteral("NAME"));
    const QCommandLineOption svnIgnore(QStringLiteral("svn-ignore"),
                                       QStringLiteral("The conversion translated svn:ignore."));
    const QCommandLineOption svnAttributes(
            QStringLiteral("svn-attributes"),
            QStringLiteral("The conversion translated svn:eol-style and svn:mime-type."));
    const QCommandLineOption emptyDirs(QStringLiteral("empty-dirs"),
                                       QStringLiteral("The conversion kept empty directories."));
    const QCommandLineOption svnMergeinfo(
            QStringLiteral("svn-mergeinfo"),
            QStringLiteral("The conversion took merges from svn:mergeinfo: check every "
                           "commit's parents."));
    const QCommandLineOption maxRev(QStringLiteral("max-rev"),
                                    QStringLiteral("Compare up to this revision only."),
                                    QStringLiteral("N"));
    const QCommandLineOption revisionsFile(
            QStringLiteral("revisions-file"),
            QStringLiteral("The conversion was limited to the revisions of this file."),
            QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Write the result as JSON."));
    parser.addOptions({rules, heads, sample, repository, svnIgnore, svnAttributes, emptyDirs,
                       svnMergeinfo, maxRev, revisionsFile, json});
    parser.addPositionalArgument(QStringLiteral("SVNREPO"),
                                 QStringLiteral("The Subversion repository directory."));

    auto usage = [](const QString &message) {
        fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(message));
        fprintf(stderr, "usage: tallowmere-verify --rules FILE[,FILE] [--heads | --sample N] "
                        "[--repository NAME] [--max-rev N] [--revisions-file FILE] [--svn-ignore] "
                        "[--svn-attributes] [--empty-dirs] [--svn-mergeinfo] [--json] SVNREPO\n");
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("version"))) {
        printf("tallowmere-verify %s\n", TALLOWMERE_VERSION);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.isSet(rules))
        return usage(QStringLiteral("--rules is missing"));
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("name one Subversion repository"));

    Verifier::Options options;
    options.rulesFiles = parser.value(rules);
    options.svnRepository = parser.positionalArguments().first();
    options.onlyRepository = parser.value(repository);
    options.headsOnly = parser.isSet(heads);
    if (parser.isSet(sample)) {
        bool ok = false;
        options.sample = parser.value(sample).toInt(&ok);
        if (!ok || options.sample < 1)
            return usage(QStringLiteral("--sample needs a whole number above 0"));
        if (options.headsOnly)
            return usage(QStringLiteral("--heads and --sample exclude each other"));
    }
    if (parser.isSet(maxRev)) {
        bool ok = false;
        options.maxRevision = parser.value(maxRev).toInt(&ok);
        if (!ok || options.maxRevision < 1)
            return usage(QStringLiteral("--max-rev needs a revision number above 0"));
    }
    options.revisionsFile = parser.value(revisionsFile);
    options.svnIgnore = parser.isSet(svnIgnore);
    options.svnAttributes = parser.isSet(svnAttributes);
    options.emptyDirs = parser.isSet(emptyDirs);
    options.svnMergeinfo = parser.isSet(svnMergeinfo);
    options.json = parser.isSet(json);
    return Verifier(options).run();
}
