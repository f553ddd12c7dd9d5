#include "rules/RulesFile.h"

#include "rules/MatchCounter.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>

namespace {

const char variableNamePattern[] = "[A-Za-z0-9_]+";

QRegExp keywordPattern(const QString &pattern)
{
    return QRegExp(pattern, Qt::CaseInsensitive, QRegExp::RegExp);
}

// The text a free-text keyword line carries. The keyword patterns give
// "\s+" a single blank when "(.*)" or "(.+)" follows it, so further blanks
// would otherwise begin the text: "match   /trunk/" would never match a path.
QString freeText(const QRegExp &keywordLine)
{
    const QString text = keywordLine.cap(1);
    int start = 0;
    while (start < text.size() && text.at(start).isSpace())
        ++start;
    return text.mid(start);
}

QByteArray local8Bit(const QString &text)
{
    return text.toLocal8Bit();
}

} // namespace

// What one read of one file keeps; an included file gets its own.
struct RulesFile::ReadState
{
    enum class Block { Outside, InRepository, InMatch };

    explicit ReadState(const QString &name) : fileName(name) {}

    QString fileName;
    Block block = Block::Outside;
    RepositoryRule repositoryRule;
    MatchRule matchRule;
    int lineNumber = 0;

    // Each read compiles its own patterns: their captures are per-object
    // state, and a nested read must not disturb the including read's.
    QRegExp createRepository = keywordPattern(QStringLiteral("create repository\\s+(\\S+)"));
    QRegExp match = keywordPattern(QStringLiteral("match\\s+(.*)"));
    QRegExp declaration = keywordPattern(QStringLiteral("declare\\s+(") + QLatin1String(variableNamePattern)
                                         + QStringLiteral(")\\s*=\\s*(\\S+)"));
    QRegExp variableReference = keywordPattern(QStringLiteral("\\$\\{(") + QLatin1String(variableNamePattern)
                                               + QStringLiteral(")(\\|[^}$]*)?\\}"));
    QRegExp include = keywordPattern(QStringLiteral("include\\s+(.*)"));
    QRegExp repository = keywordPattern(QStringLiteral("repository\\s+(\\S+)"));
    QRegExp description = keywordPattern(QStringLiteral("description\\s+(.+)$"));
    QRegExp branch = keywordPattern(QStringLiteral("branch\\s+(\\S+)"));
    QRegExp prefix = keywordPattern(QStringLiteral("prefix\\s+(.*)$"));
    QRegExp substituteRepository = keywordPattern(QStringLiteral("substitute repository\\s+(.+)$"));
    QRegExp substituteBranch = keywordPattern(QStringLiteral("substitute branch\\s+(.+)$"));
    QRegExp revisionBound = keywordPattern(QStringLiteral("(min|max) revision (\\d+)"));
    QRegExp action = keywordPattern(QStringLiteral("action\\s+(\\w+)"));
    QRegExp annotated = keywordPattern(QStringLiteral("annotated\\s+(\\S+)"));
};

RulesFile::RulesFile(const QString &fileName, MatchCounter *counter) : m_fileName(fileName), m_counter(counter) {}

Status RulesFile::load(const QString &fileName)
{
    qDebug() << "Loading rules from" << fileName;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Failure::fatal(QString::asprintf("Could not read the rules file: %s", local8Bit(fileName).constData()));

    // Compare real files, not spellings: "a/../a/x.rules" is "a/x.rules".
    QString identity = QFileInfo(fileName).canonicalFilePath();
    if (identity.isEmpty())
        identity = QFileInfo(fileName).absoluteFilePath();
    if (m_loadingStack.contains(identity))
        return Failure::fatal(QString::asprintf("Rules file includes itself: %s", local8Bit(fileName).constData()));

    m_loadingStack.append(identity);
    ReadState state(fileName);
    const Status status = readLines(file, state);
    m_loadingStack.removeLast();
    // A block still open at the end of the file is dropped.
    return status;
}

Status RulesFile::readLines(QIODevice &file, ReadState &state)
{
    bool firstLine = true;
    qint64 bytesRead = 0;
    // Read until nothing comes, not while atEnd() is false: a pipe (as with
    // --rules <(...)) may have no bytes available yet. Bounded reads: the file
    // may also be a device without end.
    QByteArray buffer(maximumLineLength + 2, Qt::Uninitialized);
    for (;;) {
        const qint64 length = file.readLine(buffer.data(), buffer.size());
        if (length <= 0)
            break;
        QByteArray bytes(buffer.constData(), length);
        bytesRead += bytes.size();
        if (bytes.size() > maximumLineLength && !bytes.endsWith('\n'))
            return Failure::fatal(QString::asprintf("Line %d of the rules file %s is longer than %d bytes",
                                                    state.lineNumber + 1, local8Bit(state.fileName).constData(),
                                                    maximumLineLength));
        if (bytesRead > maximumFileSize)
            return Failure::fatal(QString::asprintf("The rules file %s is larger than %lld bytes",
                                                    local8Bit(state.fileName).constData(), maximumFileSize));
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        QString lineAsRead = QString::fromUtf8(bytes);
        if (firstLine && lineAsRead.startsWith(QChar(0xFEFF)))
            lineAsRead.remove(0, 1);
        firstLine = false;

        QString line = lineAsRead;
        const int commentStart = line.indexOf(QLatin1Char('#'));
        if (commentStart != -1)
            line.truncate(commentStart);
        line = line.trimmed();
        ++state.lineNumber;
        if (line.isEmpty())
            continue;

        // Includes are recognised before variables are replaced and in every
        // state; the block under construction goes on afterwards.
        if (state.include.exactMatch(line)) {
            if (Status included = includeFile(state, freeText(state.include)); !included)
                return included;
            continue;
        }

        const Result<QString> replaced = replaceVariables(state, line);
        if (!replaced)
            return replaced.status();
        if (Status interpreted = interpretLine(state, replaced.value(), lineAsRead); !interpreted)
            return interpreted;
    }
    return Status();
}

Status RulesFile::includeFile(const ReadState &state, const QString &includedName)
{
    // Included names are relative to the including file's directory, as the
    // including file's name spells it.
    const int lastSlash = state.fileName.lastIndexOf(QLatin1Char('/'));
    const QString directory = state.fileName.left(lastSlash + 1);
    return load(directory + includedName);
}

Result<QString> RulesFile::replaceVariables(ReadState &state, const QString &line)
{
    QRegExp &reference = state.variableReference;
    QString result = line;
    // Search again from the start each time: an expanded value may complete
    // a reference together with the text after it.
    while (reference.indexIn(result) != -1) {
        const QString name = reference.cap(1);
        const QString defaultPart = reference.cap(2);
        QString replacement;
        if (m_variables.contains(name))
            replacement = m_variables.value(name);
        else if (!defaultPart.isEmpty())
            replacement = defaultPart.mid(1);
        else
            return Failure::fatal(QString::asprintf("Undeclared variable: %s", local8Bit(name).constData()));
        result.replace(reference.cap(0), replacement);
        // Values may hold earlier values twice over; a few lines of that
        // would grow without bound.
        if (result.size() > maximumLineLength)
            return Failure::fatal(QString::asprintf("Line %d of the rules file %s is longer than %d characters "
                                                    "once its variables are replaced",
                                                    state.lineNumber, local8Bit(state.fileName).constData(),
                                                    maximumLineLength));
    }
    return result;
}

Status RulesFile::interpretLine(ReadState &state, const QString &line, const QString &lineAsRead)
{
    LineResult taken(false);
    switch (state.block) {
    case ReadState::Block::InRepository:
        taken = interpretRepositoryLine(state, line);
        break;
    case ReadState::Block::InMatch:
        taken = interpretMatchLine(state, line, lineAsRead);
        break;
    case ReadState::Block::Outside:
        break;
    }
    if (!taken)
        return taken.status();
    if (taken.value())
        return Status();
    return interpretOutsideLine(state, line, lineAsRead);
}

RulesFile::LineResult RulesFile::interpretRepositoryLine(ReadState &state, const QString &line)
{
    RepositoryRule &rule = state.repositoryRule;
    if (state.branch.exactMatch(line)) {
        rule.branches.append(DeclaredBranch{state.branch.cap(1)});
    } else if (state.description.exactMatch(line)) {
        rule.description = freeText(state.description);
    } else if (state.repository.exactMatch(line)) {
        rule.targetName = state.repository.cap(1);
    } else if (state.prefix.exactMatch(line)) {
        rule.prefix = freeText(state.prefix);
    } else if (line == QLatin1String("end repository")) {
        // A forwarding repository writes into another one, which owns the
        // description and the branches.
        if (!rule.targetName.isEmpty() && !rule.description.isEmpty())
            return Failure::fatal(QString::asprintf(
                    "Specifing repository and description on repository is invalid on line %d", state.lineNumber));
        if (!rule.targetName.isEmpty() && !rule.branches.isEmpty())
            return Failure::fatal(QString::asprintf(
                    "Specifing repository and branches on repository is invalid on line %d", state.lineNumber));
        m_repositoryRules.append(rule);
        state.block = ReadState::Block::Outside;
    } else {
        return false;
    }
    return true;
}

RulesFile::LineResult RulesFile::interpretMatchLine(ReadState &state, const QString &line, const QString &lineAsRead)
{
    MatchRule &rule = state.matchRule;
    if (state.repository.exactMatch(line)) {
        rule.repository = state.repository.cap(1);
    } else if (state.branch.exactMatch(line)) {
        rule.branch = state.branch.cap(1);
    } else if (state.substituteRepository.exactMatch(line)) {
        Result<Substitution> substitution = parsedSubstitution(state, freeText(state.substituteRepository), lineAsRead);
        if (!substitution)
            return substitution.failure();
        rule.repositorySubstitutions.append(substitution.takeValue());
    } else if (state.substituteBranch.exactMatch(line)) {
        Result<Substitution> substitution = parsedSubstitution(state, freeText(state.substituteBranch), lineAsRead);
        if (!substitution)
            return substitution.failure();
        rule.branchSubstitutions.append(substitution.takeValue());
    } else if (state.revisionBound.exactMatch(line)) {
        // A number beyond the revision range cannot be a bound: read as 0 it
        // would lift the bound altogether. Not accepted here, the line is
        // reported as malformed.
        bool isRevision = false;
        const int revision = state.revisionBound.cap(2).toInt(&isRevision, 10);
        if (!isRevision)
            return false;
        // Only the exact word "min" sets the lower bound; the pattern itself
        // is case-insensitive, so "MIN" and "Max" set the upper one.
        if (state.revisionBound.cap(1) == QLatin1String("min"))
            rule.minRevision = revision;
        else
            rule.maxRevision = revision;
    } else if (state.prefix.exactMatch(line)) {
        QString prefix = freeText(state.prefix);
        if (prefix.startsWith(QLatin1Char('/')))
            prefix.remove(0, 1);
        rule.prefix = prefix;
    } else if (state.action.exactMatch(line)) {
        const QString word = state.action.cap(1);
        if (word == QLatin1String("export"))
            rule.action = RuleAction::Export;
        else if (word == QLatin1String("ignore"))
            rule.action = RuleAction::Ignore;
        else if (word == QLatin1String("recurse"))
            rule.action = RuleAction::Recurse;
        else
            return Failure::fatal(QString::asprintf("Invalid action \"%s\" on line %d", local8Bit(word).constData(),
                                                    state.lineNumber));
    } else if (state.annotated.exactMatch(line)) {
        rule.annotated = state.annotated.cap(1) == QLatin1String("true");
    } else if (line == QLatin1String("end match")) {
        if (!rule.repository.isEmpty())
            rule.action = RuleAction::Export;
        m_matchRules.append(rule);
        if (m_counter)
            m_counter->registerRule(rule);
        state.block = ReadState::Block::Outside;
    } else {
        return false;
    }
    return true;
}

Result<Substitution> RulesFile::parsedSubstitution(const ReadState &state, const QString &text,
                                                   const QString &lineAsRead)
{
    Substitution substitution = parseSubstitution(text);
    if (!substitution.isValid())
        return Failure::fatal(QString::asprintf("Malformed substitution in rules file: line %d: %s", state.lineNumber,
                                                local8Bit(lineAsRead).constData()));
    return substitution;
}

Status RulesFile::interpretOutsideLine(ReadState &state, const QString &line, const QString &lineAsRead)
{
    if (state.createRepository.exactMatch(line)) {
        state.repositoryRule = RepositoryRule();
        state.repositoryRule.name = state.createRepository.cap(1);
        state.repositoryRule.rulesFile = state.fileName;
        state.repositoryRule.lineNumber = state.lineNumber;
        state.block = ReadState::Block::InRepository;
    } else if (state.match.exactMatch(line)) {
        const QString patternText = freeText(state.match);
        state.matchRule = MatchRule();
        state.matchRule.pattern = QRegExp(patternText, Qt::CaseSensitive, QRegExp::RegExp2);
        if (!state.matchRule.pattern.isValid())
            return Failure::fatal(QString::asprintf("Malformed regular expression '%s' in file:'%s':%d, Error: %s",
                                                    local8Bit(patternText).constData(),
                                                    local8Bit(state.fileName).constData(), state.lineNumber,
                                                    local8Bit(state.matchRule.pattern.errorString()).constData()));
        state.matchRule.lineNumber = state.lineNumber;
        state.matchRule.rulesFile = state.fileName;
        state.block = ReadState::Block::InMatch;
    } else if (state.declaration.exactMatch(line)) {
        // A declaration inside a block leaves the block open.
        m_variables.insert(state.declaration.cap(1), state.declaration.cap(2));
    } else {
        return Failure::fatal(QString::asprintf("Malformed line in rules file: line %d: %s", state.lineNumber,
                                                local8Bit(lineAsRead).constData()));
    }
    return Status();
}
