#include "OutputCapture.h"

#include "driver/CommandLineParser.h"
#include "driver/OptionTable.h"

#include <gtest/gtest.h>

using TestSupport::ArgumentVector;
using TestSupport::MessageCapture;

namespace {

// The parser keeps a pointer to the argument vector, so the vector is owned
// by the test and handed in here.
CommandLineParser *parserFor(ArgumentVector &arguments)
{
    CommandLineParser::init(arguments.count(), arguments.vector());
    CommandLineParser::addOptionDefinitions(optionTable);
    return CommandLineParser::instance();
}

QStringList list(std::initializer_list<const char *> words)
{
    QStringList result;
    for (const char *word : words)
        result.append(QString::fromUtf8(word));
    return result;
}

const char expectedUsage[] =
    "Usage: tallowmere [OPTION] [Path to subversion repo]\n"
    "\n"
    "Options:\n"
    "       --identity-map        provide map between svn username and email\n"
    "       --identity-domain     provide user domain if no map was given\n"
    "       --revisions-file      provide a file with revision number that should be processed\n"
    "       --rules               the rules file(s) that determines what goes where\n"
    "       --msg-filter          External program / script to modify svn log message\n"
    "       --add-metadata        if passed, each git commit will have svn commit info\n"
    "       --add-metadata-notes  if passed, each git commit will have notes with svn commit info\n"
    "       --resume-from         start importing at svn revision number\n"
    "       --max-rev             stop importing at svn revision number\n"
    "       --dry-run             don't actually write anything\n"
    "       --create-dump         don't create the repository but a dump file suitable for piping into fast-import\n"
    "       --debug-rules         print what rule is being used for each file\n"
    "       --commit-interval     if passed the cache will be flushed to git every NUMBER of commits\n"
    "       --stats               after a run print some statistics about the rules\n"
    "       --svn-branches        Use the contents of SVN when creating branches, Note: SVN tags are branches as well\n"
    "       --empty-dirs          Add .gitignore-file for empty dirs\n"
    "       --svn-ignore          Import svn-ignore-properties via .gitignore\n"
    "       --svn-attributes      Import svn:eol-style and svn:mime-type via .gitattributes\n"
    "       --svn-mergeinfo       Make git merges from svn:mergeinfo; cherry-picks stay plain commits\n"
    "       --propcheck           Check for svn-properties except svn-ignore\n"
    "       --fast-import-timeout number of seconds to wait before terminating fast-import, 0 to wait forever\n"
    "    -h --help                show help\n"
    "    -v --version             show version\n";

} // namespace

TEST(CommandLineParser, ShortOptionBundlesAcceptKnownLettersAndRejectOthers)
{
    ArgumentVector both({"-hv"});
    CommandLineParser *parser = parserFor(both);
    EXPECT_TRUE(parser->contains("help"));
    EXPECT_TRUE(parser->contains("version"));
    EXPECT_TRUE(parser->rejectedOptions().isEmpty());
    EXPECT_TRUE(parser->arguments().isEmpty());

    ArgumentVector mixed({"-hx"});
    parser = parserFor(mixed);
    EXPECT_TRUE(parser->contains("help"));
    EXPECT_EQ(parser->rejectedOptions(), list({"x"}));

    ArgumentVector unknown({"-x", "repo"});
    parser = parserFor(unknown);
    EXPECT_EQ(parser->rejectedOptions(), list({"x"}));
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    // A lone dash is an ordinary word.
    ArgumentVector dash({"-"});
    parser = parserFor(dash);
    EXPECT_EQ(parser->arguments(), list({"-"}));
    EXPECT_TRUE(parser->rejectedOptions().isEmpty());
}

TEST(CommandLineParser, DoubleDashEndsOptionsButFeedsAPendingOption)
{
    ArgumentVector afterDashes({"--", "-v", "--help"});
    CommandLineParser *parser = parserFor(afterDashes);
    EXPECT_FALSE(parser->contains("version"));
    EXPECT_FALSE(parser->contains("help"));
    EXPECT_EQ(parser->arguments(), list({"-v", "--help"}));

    ArgumentVector pending({"--rules", "--", "a.rules", "repo"});
    parser = parserFor(pending);
    EXPECT_TRUE(parser->contains("rules"));
    EXPECT_EQ(parser->optionValue("rules"), "a.rules");
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    // Only the first "--" is special.
    ArgumentVector twice({"--", "--"});
    parser = parserFor(twice);
    EXPECT_EQ(parser->arguments(), list({"--"}));
}

TEST(CommandLineParser, OptionArgumentsByEqualsSignOrNextWord)
{
    ArgumentVector equals({"--rules=x,y", "repo"});
    CommandLineParser *parser = parserFor(equals);
    EXPECT_EQ(parser->optionValue("rules"), "x,y");
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    ArgumentVector separate({"--rules", "a.rules", "b.rules"});
    parser = parserFor(separate);
    EXPECT_EQ(parser->optionValue("rules"), "a.rules");
    EXPECT_EQ(parser->arguments(), list({"b.rules"}));

    // The single required argument takes the word meant as the path.
    ArgumentVector swallowed({"--max-rev", "repo"});
    parser = parserFor(swallowed);
    EXPECT_EQ(parser->optionValue("max-rev"), "repo");
    EXPECT_TRUE(parser->arguments().isEmpty());

    // A flag followed by a word leaves the word positional.
    ArgumentVector flag({"--stats", "repo"});
    parser = parserFor(flag);
    EXPECT_TRUE(parser->contains("stats"));
    EXPECT_EQ(parser->optionValue("stats", "fallback"), "fallback");
    EXPECT_EQ(parser->optionValue("identity-map", "none"), "none");
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    // A flag given an argument by "=" has too many arguments.
    ArgumentVector flagWithValue({"--stats=yes", "repo"});
    parser = parserFor(flagWithValue);
    EXPECT_FALSE(parser->contains("stats"));
    EXPECT_EQ(parser->rejectedOptions(), list({"stats"}));
    EXPECT_EQ(parser->arguments(), list({"repo"}));
}

TEST(CommandLineParser, MissingArgumentsAndRejectedNames)
{
    ArgumentVector last({"repo", "--rules"});
    CommandLineParser *parser = parserFor(last);
    EXPECT_FALSE(parser->contains("rules"));
    EXPECT_EQ(parser->rejectedOptions(), list({"rules"}));
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    ArgumentVector dashFollows({"--rules", "-x"});
    parser = parserFor(dashFollows);
    EXPECT_FALSE(parser->contains("rules"));
    EXPECT_EQ(parser->rejectedOptions(), list({"rules", "x"}));

    ArgumentVector repeated({"--bogus", "--rules", "--bogus", "-x", "-x"});
    parser = parserFor(repeated);
    EXPECT_EQ(parser->rejectedOptions(), list({"bogus", "rules", "x"}));

    // Names are compared exactly.
    ArgumentVector upperCase({"--Stats"});
    parser = parserFor(upperCase);
    EXPECT_FALSE(parser->contains("stats"));
    EXPECT_EQ(parser->rejectedOptions(), list({"Stats"}));
}

TEST(CommandLineParser, UndefinedOptionTakesTheLimitOfTheDefinitionSeenLast)
{
    ArgumentVector first({"--bogus", "value", "repo"});
    CommandLineParser *parser = parserFor(first);
    EXPECT_EQ(parser->rejectedOptions(), list({"bogus"}));
    EXPECT_EQ(parser->arguments(), list({"value", "repo"}));

    ArgumentVector afterRules({"--rules", "a.rules", "--bogus", "value", "repo"});
    parser = parserFor(afterRules);
    EXPECT_EQ(parser->optionValue("rules"), "a.rules");
    EXPECT_EQ(parser->rejectedOptions(), list({"bogus"}));
    EXPECT_EQ(parser->arguments(), list({"repo"}));
}

TEST(CommandLineParser, LaterOccurrenceWins)
{
    ArgumentVector twice({"--rules", "a.rules", "--rules=b.rules", "repo"});
    CommandLineParser *parser = parserFor(twice);
    EXPECT_EQ(parser->optionValue("rules"), "b.rules");
    EXPECT_EQ(parser->arguments(), list({"repo"}));

    // A later faulty occurrence does not remove the earlier good one.
    ArgumentVector laterFaulty({"--rules", "a.rules", "repo", "--rules"});
    parser = parserFor(laterFaulty);
    EXPECT_EQ(parser->optionValue("rules"), "a.rules");
    EXPECT_EQ(parser->rejectedOptions(), list({"rules"}));
}

TEST(CommandLineParser, EveryTableOptionTakesItsNumberOfArguments)
{
    const char *valued[] = {"identity-map", "identity-domain", "revisions-file", "rules", "msg-filter",
                            "resume-from", "max-rev", "commit-interval", "fast-import-timeout"};
    for (const char *name : valued) {
        const std::string option = std::string("--") + name;
        ArgumentVector arguments({option.c_str(), "value", "repo"});
        CommandLineParser *parser = parserFor(arguments);
        EXPECT_EQ(parser->optionValue(name), "value") << name;
        EXPECT_EQ(parser->arguments(), list({"repo"})) << name;
    }
    const char *flags[] = {"add-metadata", "add-metadata-notes", "dry-run", "create-dump", "debug-rules",
                           "stats", "svn-branches", "empty-dirs", "svn-ignore", "svn-attributes", "svn-mergeinfo", "propcheck", "help", "version"};
    for (const char *name : flags) {
        const std::string option = std::string("--") + name;
        ArgumentVector arguments({option.c_str(), "repo"});
        CommandLineParser *parser = parserFor(arguments);
        EXPECT_TRUE(parser->contains(name)) << name;
        EXPECT_EQ(parser->arguments(), list({"repo"})) << name;
        EXPECT_TRUE(parser->rejectedOptions().isEmpty()) << name;
    }
}

TEST(CommandLineParser, ParsesLazilyAgainAfterMoreDefinitions)
{
    ArgumentVector arguments({"--extra", "repo"});
    CommandLineParser *parser = parserFor(arguments);
    EXPECT_FALSE(parser->contains("extra"));
    EXPECT_EQ(parser->rejectedOptions(), list({"extra"}));

    const CommandLineParser::OptionTableRow more[] = {{"--extra", "one more"}, {nullptr, nullptr}};
    CommandLineParser::addOptionDefinitions(more);
    EXPECT_TRUE(parser->contains("extra"));
    EXPECT_TRUE(parser->rejectedOptions().isEmpty());
    EXPECT_EQ(parser->arguments(), list({"repo"}));
}

TEST(CommandLineParser, DefinitionGrammarWarnsAndDropsFaultyRows)
{
    const CommandLineParser::OptionTableRow rows[] = {
        {"-x, -y", "no long name"},
        {"--a, --b, --c", "two commas"},
        {"plain", "no dashes"},
        {"-q, garbage", "second piece without dash"},
        {"--size N [UNIT]", "one required, one optional"},
        {"-s, --speed LEVEL", "short and long with argument"},
        {"--list ITEM[,ITEM]", "comma inside brackets"},
        {nullptr, nullptr},
    };
    ArgumentVector arguments({"--size", "1", "kb", "extra", "-s", "fast", "--list", "p,q", "-y"});
    CommandLineParser::init(arguments.count(), arguments.vector());
    MessageCapture messages;
    CommandLineParser::addOptionDefinitions(rows);
    EXPECT_EQ(messages.warnings(),
              list({"WARN: option definition ' \"--a, --b, --c\" ' is faulty; only one ',' allowed",
                    "WARN: option definition ' \"plain\" ' has unrecognized format. See the api docs for "
                    "CommandLineParser for a howto",
                    "WARN: option definition ' \"-q, garbage\" ' is faulty; the option should start with a -"}));

    CommandLineParser *parser = CommandLineParser::instance();
    EXPECT_EQ(parser->optionValue("size"), "1");
    EXPECT_TRUE(parser->contains("speed"));
    EXPECT_EQ(parser->optionValue("speed"), "fast");
    EXPECT_EQ(parser->optionValue("list"), "p,q");
    // The size option was full after two words; "-y" belongs to a dropped row.
    EXPECT_EQ(parser->arguments(), list({"extra"}));
    EXPECT_EQ(parser->rejectedOptions(), list({"y"}));

    ArgumentVector shortWithValue({"-sslow", "--size"});
    CommandLineParser::init(shortWithValue.count(), shortWithValue.vector());
    CommandLineParser::addOptionDefinitions(rows);
    parser = CommandLineParser::instance();
    EXPECT_EQ(parser->optionValue("speed"), "slow");
    EXPECT_EQ(parser->rejectedOptions(), list({"size"}));
}

TEST(CommandLineParserDeathTest, DefinitionsBeforeInitOnlyWarn)
{
    // A fresh process, so that no earlier test has created the instance.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CommandLineParser::addOptionDefinitions(optionTable);
            fprintf(stderr, "instance=%s\n", CommandLineParser::instance() ? "yes" : "none");
            exit(0);
        },
        testing::ExitedWithCode(0), "^WARN: CommandLineParser:: Use init before addOptionDefinitions!\ninstance=none\n$");
}

TEST(CommandLineParser, UsageTextListsEveryOptionWithHelpAtColumnThirty)
{
    ArgumentVector arguments({"--help"});
    CommandLineParser *parser = parserFor(arguments);
    const QByteArray text = TestSupport::captureStdout([&] { parser->usage(QString(), "[Path to subversion repo]"); });
    EXPECT_EQ(text.toStdString(), std::string(expectedUsage));

    const QList<QByteArray> lines = text.split('\n');
    ASSERT_GT(lines.size(), 26);
    for (int i = 3; i < 26; ++i) {
        EXPECT_EQ(lines.at(i).at(28), ' ') << lines.at(i).constData();
        EXPECT_NE(lines.at(i).at(29), ' ') << lines.at(i).constData();
    }
    EXPECT_EQ(lines.at(3).indexOf("provide map"), 29);
    EXPECT_EQ(lines.at(24).indexOf("show help"), 29);

    const QByteArray withBefore = TestSupport::captureStdout([&] { parser->usage("first", QString()); });
    EXPECT_TRUE(withBefore.startsWith("Usage: tallowmere first [OPTION]\n\nOptions:\n")) << withBefore.constData();
}

TEST(CommandLineParser, UsageWithoutDefinitionsHasNoOptionSection)
{
    ArgumentVector arguments;
    CommandLineParser::init(arguments.count(), arguments.vector());
    const QByteArray text =
        TestSupport::captureStdout([] { CommandLineParser::instance()->usage("before", "after"); });
    EXPECT_EQ(text.toStdString(), "Usage: tallowmere before after\n\n");
}
