#include "driver/DriverOptions.h"

#include "driver/CommandLineParser.h"

namespace {

CommandLineParser &options()
{
    return *CommandLineParser::instance();
}

// The option's value as a signed 32-bit number; fallback when absent, 0 when unusable.
int integerOption(const char *name, const char *fallback = "0")
{
    bool ok = false;
    const int value = options()
                          .optionValue(QString::fromLatin1(name), QString::fromLatin1(fallback))
                          .toInt(&ok, 10);
    return ok ? value : 0;
}

bool flagOption(const char *name)
{
    return options().contains(QString::fromLatin1(name));
}

QString stringOption(const char *name)
{
    return options().optionValue(QString::fromLatin1(name));
}

ExportOptions exportOptions()
{
    ExportOptions exportOptions;
    exportOptions.debugRules = flagOption("debug-rules");
    exportOptions.dryRun = flagOption("dry-run");
    exportOptions.svnBranches = flagOption("svn-branches");
    exportOptions.emptyDirs = flagOption("empty-dirs");
    exportOptions.svnIgnore = flagOption("svn-ignore");
    exportOptions.svnAttributes = flagOption("svn-attributes");
    exportOptions.propcheck = flagOption("propcheck");
    exportOptions.svnMergeinfo = flagOption("svn-mergeinfo");
    return exportOptions;
}

RepositoryOptions repositoryOptions()
{
    RepositoryOptions repositoryOptions;
    repositoryOptions.dryRun = flagOption("dry-run");
    repositoryOptions.createDump = flagOption("create-dump");
    repositoryOptions.debugRules = flagOption("debug-rules");
    repositoryOptions.addMetadata = flagOption("add-metadata");
    repositoryOptions.addMetadataNotes = flagOption("add-metadata-notes");
    repositoryOptions.svnMergeinfo = flagOption("svn-mergeinfo");
    repositoryOptions.commitInterval = integerOption("commit-interval", "10000");
    repositoryOptions.fastImportTimeoutSeconds = integerOption("fast-import-timeout", "30");
    if (flagOption("msg-filter"))
        repositoryOptions.messageFilter = stringOption("msg-filter");
    return repositoryOptions;
}

} // namespace

DriverOptions driverOptionsFromCommandLine()
{
    DriverOptions driverOptions;
    driverOptions.sourcePath = options().arguments().constFirst();
    driverOptions.rulesFile = stringOption("rules");
    driverOptions.identityMapGiven = flagOption("identity-map");
    driverOptions.identityMapFile = stringOption("identity-map");
    driverOptions.identityDomainGiven = flagOption("identity-domain");
    driverOptions.identityDomain = stringOption("identity-domain");
    driverOptions.revisionsFile = stringOption("revisions-file");
    driverOptions.resumeFrom = integerOption("resume-from");
    driverOptions.maxRev = integerOption("max-rev");
    driverOptions.exportOptions = exportOptions();
    driverOptions.repositoryOptions = repositoryOptions();
    return driverOptions;
}
