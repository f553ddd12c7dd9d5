#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The process-wide option parser. Definitions come from a static table of
// (definition text, help text) rows; the argument vector is parsed lazily on
// the first query after init or addOptionDefinitions.
class CommandLineParser
{
public:
    struct OptionTableRow
    {
        const char *definition; // null ends the table
        const char *helpText;
    };

    struct OptionDefinition
    {
        QString name;
        QString helpText;
        QChar shortName; // null when the option has none
        int optionalArgumentCount = 0;
        int requiredArgumentCount = 0;
    };

    struct ParsedOption
    {
        QString name;
        QStringList arguments;
    };

    static void init(int argc, char **argv);
    static void addOptionDefinitions(const OptionTableRow *table);
    static CommandLineParser *instance();

    bool contains(const QString &name);
    QString optionValue(const QString &name, const QString &defaultValue = QString());
    QStringList arguments();
    QStringList rejectedOptions();
    void usage(const QString &before, const QString &after) const;

private:
    CommandLineParser(int argc, char **argv);
    void addDefinitions(const OptionTableRow *table);
    void parseIfNeeded();
    void parse();
    void parseShortOptions(const QString &word, ParsedOption &pending, OptionDefinition &lastDefinition);
    void takeArgument(const QString &word, ParsedOption &pending, OptionDefinition &lastDefinition);
    // Stores a complete option, or records its name as rejected; then empties pending.
    void finish(ParsedOption &pending);
    const OptionDefinition *definitionNamed(const QString &name) const;
    const OptionDefinition *definitionWithShortName(QChar shortName) const;

    int m_argumentCount;
    char **m_argumentVector;
    bool m_needsParse = true;
    QList<OptionDefinition> m_definitions;
    QHash<QString, ParsedOption> m_parsedOptions;
    QStringList m_positionalArguments;
    QStringList m_rejectedOptionNames;
};
