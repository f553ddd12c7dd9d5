#include "RulesTestSupport.h"

#include "rules/RulesFile.h"
#include "rules/RulesFileSet.h"

#include <gtest/gtest.h>

using RulesTest::wholeLine;

namespace {

void loadRules(const char *name)
{
    RulesFile file(QString::fromUtf8(name));
    file.load();
    // Reaching this point means the fault went unnoticed.
    fprintf(stderr, "loaded without a fault\n");
    exit(0);
}

class RulesLoaderDeathTest : public testing::Test
{
protected:
    // Writes the file and expects loading it to end with message.
    void expectFatal(const char *contents, const std::string &message)
    {
        directory.write("bad.rules", contents);
        EXPECT_DEATH(loadRules("bad.rules"), wholeLine(message)) << contents;
    }

    RulesTest::RulesDirectory directory;
};

} // namespace

TEST_F(RulesLoaderDeathTest, UnreadableFiles)
{
    EXPECT_DEATH(loadRules("absent.rules"), wholeLine("Could not read the rules file: absent.rules"));

    directory.write("conf/main.rules", "match /x/\n  include missing.rules\nend match\n");
    EXPECT_DEATH(loadRules("conf/main.rules"), wholeLine("Could not read the rules file: conf/missing.rules"));

    directory.write("a.rules", "# fine\n");
    directory.write("b.rules", "# fine\n");
    // The empty name between the commas is a file name too.
    EXPECT_DEATH(
        {
            RulesFileSet set("a.rules,,b.rules");
            set.load();
            exit(0);
        },
        wholeLine("Could not read the rules file: "));
}

TEST_F(RulesLoaderDeathTest, UndeclaredVariables)
{
    expectFatal("match /${W}/\nend match\n", "Undeclared variable: W");
    expectFatal("declare num=1\nmatch /${NUM}/\nend match\n", "Undeclared variable: NUM");
    // Variables are replaced in every keyword line, comments excluded.
    expectFatal("match /x/ # ${IGNORED}\n  repository ${REPO}\nend match\n", "Undeclared variable: REPO");
}

TEST_F(RulesLoaderDeathTest, MalformedLinesAreQuotedAsRead)
{
    expectFatal("match /x/\n\n\tbogus line   # with comment\nend match\n",
                "Malformed line in rules file: line 3: \tbogus line   # with comment");
    expectFatal("match /x/\nEND MATCH\n", "Malformed line in rules file: line 2: END MATCH");
    expectFatal("end match\n", "Malformed line in rules file: line 1: end match");
    expectFatal("match /x/\n  end repository\n", "Malformed line in rules file: line 2:   end repository");
    expectFatal("create repository r\n  end match\n", "Malformed line in rules file: line 2:   end match");
    expectFatal("match /x/\n  min  revision 3\n", "Malformed line in rules file: line 2:   min  revision 3");
    expectFatal("match\n", "Malformed line in rules file: line 1: match");
    expectFatal("create repository\n", "Malformed line in rules file: line 1: create repository");
    expectFatal("create repository a b\n", "Malformed line in rules file: line 1: create repository a b");
    expectFatal("declare X = two words\n", "Malformed line in rules file: line 1: declare X = two words");
    // Block lines mean nothing outside their block.
    expectFatal("repository proj\n", "Malformed line in rules file: line 1: repository proj");
    expectFatal("create repository r\n  action export\n",
                "Malformed line in rules file: line 2:   action export");
    // The line is shown before variables are replaced.
    expectFatal("declare V=value\n${V} here\n", "Malformed line in rules file: line 2: ${V} here");
}

TEST_F(RulesLoaderDeathTest, RevisionBoundsOutsideTheRevisionRangeAreMalformed)
{
    // Read as 0, such a bound would apply the rule at every revision.
    expectFatal("match /x/\n  min revision 99999999999\nend match\n",
                "Malformed line in rules file: line 2:   min revision 99999999999");
    expectFatal("match /x/\n  max revision 2147483648\nend match\n",
                "Malformed line in rules file: line 2:   max revision 2147483648");
    expectFatal("declare BIG=4294967296\nmatch /x/\n  MAX revision ${BIG}\nend match\n",
                "Malformed line in rules file: line 3:   MAX revision ${BIG}");
    expectFatal("match /x/\n  min revision twelve\nend match\n",
                "Malformed line in rules file: line 2:   min revision twelve");
    expectFatal("match /x/\n  min revision -3\nend match\n",
                "Malformed line in rules file: line 2:   min revision -3");
}

TEST_F(RulesLoaderDeathTest, MalformedRegularExpression)
{
    const QString pattern = QStringLiteral("/(unclosed/");
    const QString error = QRegExp(pattern, Qt::CaseSensitive, QRegExp::RegExp2).errorString();
    ASSERT_FALSE(error.isEmpty());
    expectFatal("# first\nmatch /(unclosed/\nend match\n",
                "Malformed regular expression '/(unclosed/' in file:'bad.rules':2, Error: " + error.toStdString());
}

TEST_F(RulesLoaderDeathTest, MalformedSubstitutions)
{
    expectFatal("match /x/\n  repository r\n  substitute repository q/a/b/\nend match\n",
                "Malformed substitution in rules file: line 3:   substitute repository q/a/b/");
    expectFatal("match /x/\n  substitute branch s//x/  # empty pattern\nend match\n",
                "Malformed substitution in rules file: line 2:   substitute branch s//x/  # empty pattern");
}

TEST_F(RulesLoaderDeathTest, ForwardingRepositoriesOwnNoDescriptionOrBranches)
{
    expectFatal("create repository fwd\n  repository proj\n  description text\nend repository\n",
                "Specifing repository and description on repository is invalid on line 4");
    expectFatal("create repository fwd\n  branch b\n  repository proj\n\nend repository\n",
                "Specifing repository and branches on repository is invalid on line 5");
    // The description is checked first.
    expectFatal("create repository fwd\n  branch b\n  description d\n  repository proj\nend repository\n",
                "Specifing repository and description on repository is invalid on line 5");
}

TEST_F(RulesLoaderDeathTest, InvalidActions)
{
    expectFatal("match /x/\n  action Export\nend match\n", "Invalid action \"Export\" on line 2");
    expectFatal("match /x/\n\n  action copy\nend match\n", "Invalid action \"copy\" on line 3");
}

// Input that would make the loader hold without bound: values that double
// line by line, an endless line, a device without end.
TEST_F(RulesLoaderDeathTest, UnboundedInputEndsWithAMessage)
{
    QByteArray doubling = "declare A=xxxxxxxx\n";
    for (int i = 0; i < 40; ++i)
        doubling += "declare A=${A}${A}\n";
    directory.write("doubling.rules", doubling);
    EXPECT_DEATH(loadRules("doubling.rules"),
                 wholeLine("Line 18 of the rules file doubling.rules is longer than 1048576 characters "
                           "once its variables are replaced"));

    directory.write("long.rules", "# fine\nmatch /" + QByteArray(2 << 20, 'x') + "/\nend match\n");
    EXPECT_DEATH(loadRules("long.rules"),
                 wholeLine("Line 2 of the rules file long.rules is longer than 1048576 bytes"));

    QByteArray large;
    while (large.size() <= RulesFile::maximumFileSize)
        large += "# " + QByteArray(1000, 'c') + "\n";
    directory.write("large.rules", large);
    EXPECT_DEATH(loadRules("large.rules"), wholeLine("The rules file large.rules is larger than 67108864 bytes"));

    directory.write("zero.rules", "include ../../../../../../../../../../../../dev/zero\n");
    EXPECT_DEATH(loadRules("zero.rules"), "is longer than 1048576 bytes");
}

TEST_F(RulesLoaderDeathTest, IncludeCyclesEndWithAMessage)
{
    directory.write("self.rules", "match /x/\nend match\ninclude self.rules\n");
    EXPECT_DEATH(loadRules("self.rules"), wholeLine("Rules file includes itself: self.rules"));

    directory.write("a.rules", "include b.rules\n");
    directory.write("b.rules", "match /b/\nend match\ninclude a.rules\n");
    EXPECT_DEATH(loadRules("a.rules"), wholeLine("Rules file includes itself: a.rules"));

    // Another spelling of the same file is the same file.
    directory.write("conf/loop.rules", "include ../conf/loop.rules\n");
    EXPECT_DEATH(loadRules("conf/loop.rules"), wholeLine("Rules file includes itself: conf/../conf/loop.rules"));
}
