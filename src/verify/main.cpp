#include "verify/Verifier.h"

#include "common/Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

struct OptionText
{
    const char *name;
    const char *description;
    const char *valueName; // null for a switch
};

// In the order --help lists them.
const OptionText optionTexts[] = {
    {"rules", "The rules files of the conversion.", "FILE[,FILE]"},
    {"heads", "Check only the last state of each branch.", nullptr},
    {"sample", "Check every Nth state and all heads.", "N"},
    {"repository", "Check only this repository.", "NAME"},
    {"svn-ignore", "The conversion translated svn:ignore.", nullptr},
    {"svn-attributes", "The conversion translated svn:eol-style and svn:mime-type.", nullptr},
    {"empty-dirs", "The conversion kept empty directories.", nullptr},
    {"svn-mergeinfo",
     "The conversion took merges from svn:mergeinfo: check every commit's parents.", nullptr},
    {"identity-map", "The conversion took identities from this file.", "FILE"},
    {"identity-domain", "The conversion made addresses with this domain.", "DOMAIN"},
    {"msg-filter", "The conversion passed messages through this command.", "COMMAND"},
    {"add-metadata", "The conversion added svn metadata to every message.", nullptr},
    {"add-metadata-notes", "The conversion added svn metadata as notes.", nullptr},
    {"max-rev", "Compare up to this revision only.", "N"},
    {"revisions-file", "The conversion was limited to the revisions of this file.", "FILE"},
    {"json", "Write the result as JSON.", nullptr},
};

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
            "Checks a conversion made by tallowmere, in the current directory, against "
            "the Subversion repository it was made from."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const OptionText &text : optionTexts) {
        parser.addOption(QCommandLineOption(
                QString::fromLatin1(text.name), QString::fromLatin1(text.description),
                text.valueName ? QString::fromLatin1(text.valueName) : QString()));
    }
    parser.addPositionalArgument(QStringLiteral("SVNREPO"),
                                 QStringLiteral("The Subversion repository directory."));
}

int usage(const QString &message)
{
    fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(message));
    fprintf(stderr, "usage: tallowmere-verify --rules FILE[,FILE] [--heads | --sample N] "
                    "[--repository NAME] [--max-rev N] [--revisions-file FILE] [--svn-ignore] "
                    "[--svn-attributes] [--empty-dirs] [--svn-mergeinfo] [--identity-map FILE] "
                    "[--identity-domain DOMAIN] [--msg-filter COMMAND] [--add-metadata] "
                    "[--add-metadata-notes] [--json] SVNREPO\n");
    return 2;
}

// The value of option name as a whole number above 0; false when it is none.
bool positiveNumber(const QCommandLineParser &parser, const QString &name, int *number)
{
    bool ok = false;
    *number = parser.value(name).toInt(&ok);
    return ok && *number >= 1;
}

// The options the conversion's metadata was made with.
QString readMetadataOptions(const QCommandLineParser &parser, Verifier::Options *options)
{
    options->identityMap = parser.value(QStringLiteral("identity-map"));
    if (parser.isSet(QStringLiteral("identity-map")) && options->identityMap.isEmpty())
        return QStringLiteral("--identity-map needs a file");
    options->identityDomain = parser.value(QStringLiteral("identity-domain"));
    if (parser.isSet(QStringLiteral("msg-filter")))
        options->messageFilter = parser.value(QStringLiteral("msg-filter"));
    options->addMetadata = parser.isSet(QStringLiteral("add-metadata"));
    options->addMetadataNotes = parser.isSet(QStringLiteral("add-metadata-notes"));
    return QString();
}

// Fills options from a parsed command line; the fault, or an empty text.
QString readOptions(const QCommandLineParser &parser, Verifier::Options *options)
{
    if (!parser.isSet(QStringLiteral("rules")))
        return QStringLiteral("--rules is missing");
    if (parser.positionalArguments().size() != 1)
        return QStringLiteral("name one Subversion repository");
    options->rulesFiles = parser.value(QStringLiteral("rules"));
    options->svnRepository = parser.positionalArguments().first();
    options->onlyRepository = parser.value(QStringLiteral("repository"));
    options->headsOnly = parser.isSet(QStringLiteral("heads"));
    if (parser.isSet(QStringLiteral("sample"))) {
        if (!positiveNumber(parser, QStringLiteral("sample"), &options->sample))
            return QStringLiteral("--sample needs a whole number above 0");
        if (options->headsOnly)
            return QStringLiteral("--heads and --sample exclude each other");
    }
    if (parser.isSet(QStringLiteral("max-rev"))
        && !positiveNumber(parser, QStringLiteral("max-rev"), &options->maxRevision))
        return QStringLiteral("--max-rev needs a revision number above 0");
    options->revisionsFile = parser.value(QStringLiteral("revisions-file"));
    options->svnIgnore = parser.isSet(QStringLiteral("svn-ignore"));
    options->svnAttributes = parser.isSet(QStringLiteral("svn-attributes"));
    options->emptyDirs = parser.isSet(QStringLiteral("empty-dirs"));
    options->svnMergeinfo = parser.isSet(QStringLiteral("svn-mergeinfo"));
    options->json = parser.isSet(QStringLiteral("json"));
    return readMetadataOptions(parser, options);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    // The rules loader reports what it reads at debug level; only warnings matter here.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication::setApplicationName(QStringLiteral("tallowmere-verify"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLOWMERE_VERSION));
    QCommandLineParser parser;
    addOptions(parser);
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
    Verifier::Options options;
    if (const QString fault = readOptions(parser, &options); !fault.isEmpty())
        return usage(fault);
    Verifier verifier(options);
    if (const Status status = verifier.run(); !status) {
        const QByteArray &cause = status.failure().cause();
        fwrite(cause.constData(), 1, size_t(cause.size()), stderr);
        fprintf(stderr, "tallowmere-verify: %s\n", qPrintable(status.failure().message()));
        return 2;
    }
    verifier.printReport();
    return verifier.allEqual() ? 0 : 1;
}
