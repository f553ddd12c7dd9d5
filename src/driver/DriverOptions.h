#pragma once

#include "repository/RepositoryOptions.h"
#include "svn/ExportOptions.h"

#include <QString>

// Everything the command line says about one run, read once after the
// command line was checked. Each subsystem is handed its own part.
struct DriverOptions
{
    QString sourcePath;
    QString rulesFile;
    bool identityMapGiven = false;
    QString identityMapFile;
    bool identityDomainGiven = false;
    QString identityDomain;
    QString revisionsFile;
    int resumeFrom = 0; // 0: none given, or not a number
    int maxRev = 0;     // 0: none given, or not a number
    ExportOptions exportOptions;
    RepositoryOptions repositoryOptions;
};

// The options of the command line that CommandLineParser has read and checked.
DriverOptions driverOptionsFromCommandLine();
