#include "driver/CommandLineParser.h"

#include <QDebug>
#include <QByteArray>
#include <cstdio>

namespace {

CommandLineParser *currentInstance = nullptr;

void warnAboutDefinition(const QString &definitionText, const char *problem)
{
    qWarning() << "WARN: option definition '" << definitionText << problem;
}

// Reads the name part of a definition ("--rules FILENAME", "-h, --help") into
// definition.name and definition.shortName. Returns false when the row must be
// dropped.
bool readNames(const QString &text, CommandLineParser::OptionDefinition &definition)
{
    const bool hasBracketPair = text.contains(QLatin1Char('[')) && text.contains(QLatin1Char(']'));
    if (text.contains(QLatin1Char(',')) && !hasBracketPair) {
        const QStringList pieces = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (pieces.count() != 2) {
            warnAboutDefinition(text, "' is faulty; only one ',' allowed");
            return false;
        }
        for (const QString &rawPiece : pieces) {
            const QString piece = rawPiece.trimmed();
            if (piece.startsWith(QLatin1String("--")) && piece.length() > 2) {
                definition.name = piece.mid(2);
            } else if (piece.startsWith(QLatin1Char('-')) && piece.length() >= 2) {
                definition.shortName = piece.at(1);
            } else {
                warnAboutDefinition(text, "' is faulty; the option should start with a -");
                break;
            }
        }
    } else if (text.startsWith(QLatin1String("--")) && text.length() > 2) {
        definition.name = text.mid(2);
    } else {
        warnAboutDefinition(text, "' has unrecognized format. See the api docs for CommandLineParser for a howto");
    }
    return !definition.name.isEmpty();
}

// Splits the argument words off the name: "[WORD]" is optional, any other
// word is required.
bool readArgumentWords(const QString &text, CommandLineParser::OptionDefinition &definition)
{
    if (text.indexOf(QLatin1Char(' '), 1) == -1)
        return true;
    const QStringList words = definition.name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    definition.name = words.first();
    for (int i = 1; i < words.count(); ++i) {
        const QString word = words.at(i).trimmed();
        if (word.startsWith(QLatin1Char('[')) && word.endsWith(QLatin1Char(']')))
            ++definition.optionalArgumentCount;
        else
            ++definition.requiredArgumentCount;
    }
    return true;
}

} // namespace

CommandLineParser::CommandLineParser(int argc, char **argv) : m_argumentCount(argc), m_argumentVector(argv) {}

void CommandLineParser::init(int argc, char **argv)
{
    delete currentInstance;
    currentInstance = new CommandLineParser(argc, argv);
}

void CommandLineParser::addOptionDefinitions(const OptionTableRow *table)
{
    if (!currentInstance) {
        qWarning() << "WARN: CommandLineParser:: Use init before addOptionDefinitions!";
        return;
    }
    currentInstance->addDefinitions(table);
}

CommandLineParser *CommandLineParser::instance()
{
    return currentInstance;
}

void CommandLineParser::addDefinitions(const OptionTableRow *table)
{
    for (const OptionTableRow *row = table; row && row->definition; ++row) {
        const QString text = QString::fromLatin1(row->definition);
        OptionDefinition definition;
        if (!readNames(text, definition) || !readArgumentWords(text, definition))
            continue;
        definition.helpText = QString::fromLatin1(row->helpText);
        m_definitions.append(definition);
    }
    m_needsParse = true;
}

bool CommandLineParser::contains(const QString &name)
{
    parseIfNeeded();
    return m_parsedOptions.contains(name);
}

QString CommandLineParser::optionValue(const QString &name, const QString &defaultValue)
{
    parseIfNeeded();
    const auto found = m_parsedOptions.constFind(name);
    if (found == m_parsedOptions.constEnd() || found->arguments.isEmpty())
        return defaultValue;
    return found->arguments.first();
}

QStringList CommandLineParser::arguments()
{
    parseIfNeeded();
    return m_positionalArguments;
}

QStringList CommandLineParser::rejectedOptions()
{
    parseIfNeeded();
    return m_rejectedOptionNames;
}

void CommandLineParser::usage(const QString &before, const QString &after) const
{
    QByteArray text = "Usage: ";
    if (m_argumentCount > 0 && m_argumentVector && m_argumentVector[0])
        text += m_argumentVector[0];
    if (!before.isEmpty())
        text += ' ' + before.toLocal8Bit();
    if (!m_definitions.isEmpty())
        text += " [OPTION]";
    if (!after.isEmpty())
        text += ' ' + after.toLocal8Bit();
    text += "\n\n";

    if (!m_definitions.isEmpty()) {
        int longestName = 0;
        for (const OptionDefinition &definition : m_definitions)
            longestName = qMax(longestName, int(definition.name.length()));
        text += "Options:\n";
        for (const OptionDefinition &definition : m_definitions) {
            text += "    ";
            if (!definition.shortName.isNull())
                text += '-' + QString(definition.shortName).toLocal8Bit() + " --";
            else
                text += "   --";
            text += definition.name.toLocal8Bit();
            text += QByteArray(longestName - definition.name.length() + 1, ' ');
            text += definition.helpText.toLocal8Bit();
            text += '\n';
        }
    }
    fwrite(text.constData(), 1, size_t(text.size()), stdout);
    fflush(stdout);
}

void CommandLineParser::parseIfNeeded()
{
    if (m_needsParse)
        parse();
}

const CommandLineParser::OptionDefinition *CommandLineParser::definitionNamed(const QString &name) const
{
    for (const OptionDefinition &definition : m_definitions) {
        if (definition.name == name)
            return &definition;
    }
    return nullptr;
}

const CommandLineParser::OptionDefinition *CommandLineParser::definitionWithShortName(QChar shortName) const
{
    for (const OptionDefinition &definition : m_definitions) {
        if (!definition.shortName.isNull() && definition.shortName == shortName)
            return &definition;
    }
    return nullptr;
}

void CommandLineParser::finish(ParsedOption &pending)
{
    if (!pending.name.isEmpty()) {
        const OptionDefinition *definition = definitionNamed(pending.name);
        const int count = pending.arguments.count();
        if (definition && count >= definition->requiredArgumentCount
            && count <= definition->requiredArgumentCount + definition->optionalArgumentCount) {
            m_parsedOptions.insert(pending.name, pending);
        } else if (!m_rejectedOptionNames.contains(pending.name)) {
            m_rejectedOptionNames.append(pending.name);
        }
    }
    // Arguments go too: "--=x" has no name, and its x must not stick to the
    // next option.
    pending = ParsedOption();
}

void CommandLineParser::parse()
{
    m_parsedOptions.clear();
    m_positionalArguments.clear();
    m_rejectedOptionNames.clear();
    m_needsParse = false;

    ParsedOption pending;
    OptionDefinition lastDefinition;
    bool optionsAllowed = true;

    for (int i = 1; i < m_argumentCount; ++i) {
        const QString word = QString::fromLocal8Bit(m_argumentVector[i]);
        if (optionsAllowed && word == QLatin1String("--")) {
            optionsAllowed = false;
        } else if (optionsAllowed && word.startsWith(QLatin1String("--"))) {
            finish(pending);
            const int equalsSign = word.indexOf(QLatin1Char('='));
            if (equalsSign == -1) {
                pending.name = word.mid(2);
            } else {
                pending.name = word.mid(2, equalsSign - 2);
                pending.arguments.append(word.mid(equalsSign + 1));
            }
        } else if (optionsAllowed && word.startsWith(QLatin1Char('-')) && word.length() >= 2) {
            parseShortOptions(word, pending, lastDefinition);
        } else {
            takeArgument(word, pending, lastDefinition);
        }
    }
    finish(pending);
}

void CommandLineParser::parseShortOptions(const QString &word, ParsedOption &pending, OptionDefinition &lastDefinition)
{
    for (int i = 1; i < word.length(); ++i) {
        const QChar character = word.at(i);
        const OptionDefinition *definition = definitionWithShortName(character);
        finish(pending);
        if (!definition) {
            pending.name = QString(character);
            finish(pending);
            continue;
        }
        lastDefinition = *definition;
        pending.name = definition->name;
        // "-fVALUE": the rest of the word is the single argument.
        if (definition->requiredArgumentCount == 1 && i + 1 < word.length()) {
            pending.arguments.append(word.mid(i + 1));
            return;
        }
    }
}

void CommandLineParser::takeArgument(const QString &word, ParsedOption &pending, OptionDefinition &lastDefinition)
{
    if (pending.name.isEmpty()) {
        m_positionalArguments.append(word);
        return;
    }
    if (pending.name != lastDefinition.name) {
        // An undefined option keeps the limit of the definition seen last.
        if (const OptionDefinition *definition = definitionNamed(pending.name))
            lastDefinition = *definition;
    }
    if (pending.arguments.count() >= lastDefinition.requiredArgumentCount + lastDefinition.optionalArgumentCount)
        finish(pending);
    if (!pending.name.isEmpty())
        pending.arguments.append(word);
    else
        m_positionalArguments.append(word);
}
