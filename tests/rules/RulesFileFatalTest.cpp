#include "RulesTestSupport.h"
#include "TestSupport.h"

#include "rules/RulesFile.h"
#include "rules/RulesFileSet.h"

#include <QRegExp>
#include <gtest/gtest.h>

namespace {

// The message of the fault that loading the file gives, or a text saying
// there was none. Every fault of a rules file is fatal.
template <typename Rules>
std::string faultOf(Rules &rules)
{
    const Status loaded = rules.load();
    if (loaded)
        return "loaded without a fault";
    EXPECT_TRUE(loaded.failure().isFatal()) << loaded.failure().message().toStdString();
    return loaded.failure().message().toStdString();
}

std::string faultLoading(const char *name)
{
    RulesFile file(QString::fromUtf8(name));
    return faultOf(file);
}

class RulesLoaderFaults : public testing::Test
{
protected:
    // Writes the file and expects loading it to fail with message.
    void expectFault(const char *contents, const std::string &message)
    {
        directory.write("bad.rules", contents);
        EXPECT_EQ(faultLoading("bad.rules"), message) << contents;
    }

    RulesTest::RulesDirectory directory;
};

} // namespace

TEST_F(RulesLoaderFaults, UnreadableFiles)
{
    EXPECT_EQ(faultLoading("absent.rules"), "Could not read the rules file: absent.rules");

    directory.write("conf/main.rules", "match /x/\n  include missing.rules\nend match\n");
    EXPECT_EQ(faultLoading("conf/main.rules"), "Could not read the rules file: conf/missing.rules");

    directory.write("a.rules", "# fine\n");
    directory.write("b.rules", "# fine\n");
    // The empty name between the commas is a file name too.
    RulesFileSet set("a.rules,,b.rules");
    EXPECT_EQ(faultOf(set), "Could not read the rules file: ");
}

TEST_F(RulesLoaderFaults, UndeclaredVariables)
{
    expectFault("match /${W}/\nend match\n", "Undeclared variable: W");
    expectFault("declare num=1\nmatch /${NUM}/\nend match\n", "Undeclared variable: NUM");
    // Variables are replaced in every keyword line, comments excluded.
    expectFault("match /x/ # ${IGNORED}\n  repository ${REPO}\nend match\n", "Undeclared variable: REPO");
}

TEST_F(RulesLoaderFaults, MalformedLinesAreQuotedAsRead)
{
    expectFault("match /x/\n\n\tbogus line   # with comment\nend match\n",
                "Malformed line in rules file: line 3: \tbogus line   # with comment");
    expectFault("match /x/\nEND MATCH\n", "Malformed line in rules file: line 2: END MATCH");
    expectFault("end match\n", "Malformed line in rules file: line 1: end match");
    expectFault("match /x/\n  end repository\n", "Malformed line in rules file: line 2:   end repository");
    expectFault("create repository r\n  end match\n", "Malformed line in rules file: line 2:   end match");
    expectFault("match /x/\n  min  revision 3\n", "Malformed line in rules file: line 2:   min  revision 3");
    expectFault("match\n", "Malformed line in rules file: line 1: match");
    expectFault("create repository\n", "Malformed line in rules file: line 1: create repository");
    expectFault("create repository a b\n", "Malformed line in rules file: line 1: create repository a b");
    expectFault("declare X = two words\n", "Malformed line in rules file: line 1: declare X = two words");
    // Block lines mean nothing outside their block.
    expectFault("repository proj\n", "Malformed line in rules file: line 1: repository proj");
    expectFault("create repository r\n  action export\n",
                "Malformed line in rules file: line 2:   action export");
    // The line is shown before variables are replaced.
    expectFault("declare V=value\n${V} here\n", "Malformed line in rules file: line 2: ${V} here");
}

TEST_F(RulesLoaderFaults, RevisionBoundsOutsideTheRevisionRangeAreMalformed)
{
    // Read as 0, such a bound would apply the rule at every revision.
    expectFault("match /x/\n  min revision 99999999999\nend match\n",
                "Malformed line in rules file: line 2:   min revision 99999999999");
    expectFault("match /x/\n  max revision 2147483648\nend match\n",
                "Malformed line in rules file: line 2:   max revision 2147483648");
    expectFault("declare BIG=4294967296\nmatch /x/\n  MAX revision ${BIG}\nend match\n",
                "Malformed line in rules file: line 3:   MAX revision ${BIG}");
    expectFault("match /x/\n  min revision twelve\nend match\n",
                "Malformed line in rules file: line 2:   min revision twelve");
    expectFault("match /x/\n  min revision -3\nend match\n",
                "Malformed line in rules file: line 2:   min revision -3");
}

TEST_F(RulesLoaderFaults, MalformedRegularExpression)
{
    const QString pattern = QStringLiteral("/(unclosed/");
    const QString error = QRegExp(pattern, Qt::CaseSensitive, QRegExp::RegExp2).errorString();
    ASSERT_FALSE(error.isEmpty());
    expectFault("# first\nmatch /(unclosed/\nend match\n",
                "Malformed regular expression '/(unclosed/' in file:'bad.rules':2, Error: " + error.toStdString());
}

TEST_F(RulesLoaderFaults, MalformedSubstitutions)
{
    expectFault("match /x/\n  repository r\n  substitute repository q/a/b/\nend match\n",
                "Malformed substitution in rules file: line 3:   substitute repository q/a/b/");
    expectFault("match /x/\n  substitute branch s//x/  # empty pattern\nend match\n",
                "Malformed substitution in rules file: line 2:   substitute branch s//x/  # empty pattern");
}

TEST_F(RulesLoaderFaults, ForwardingRepositoriesOwnNoDescriptionOrBranches)
{
    expectFault("create repository fwd\n  repository proj\n  description text\nend repository\n",
                "Specifing repository and description on repository is invalid on line 4");
    expectFault("create repository fwd\n  branch b\n  repository proj\n\nend repository\n",
                "Specifing repository and branches on repository is invalid on line 5");
    // The description is checked first.
    expectFault("create repository fwd\n  branch b\n  description d\n  repository proj\nend repository\n",
                "Specifing repository and description on repository is invalid on line 5");
}

TEST_F(RulesLoaderFaults, InvalidActions)
{
    expectFault("match /x/\n  action Export\nend match\n", "Invalid action \"Export\" on line 2");
    expectFault("match /x/\n\n  action copy\nend match\n", "Invalid action \"copy\" on line 3");
}

// Input that would make the loader hold without bound: values that double
// line by line, an endless line, a device without end.
TEST_F(RulesLoaderFaults, UnboundedInputEndsWithAMessage)
{
    QByteArray doubling = "declare A=xxxxxxxx\n";
    for (int i = 0; i < 40; ++i)
        doubling += "declare A=${A}${A}\n";
    directory.write("doubling.rules", doubling);
    EXPECT_EQ(faultLoading("doubling.rules"), "Line 18 of the rules file doubling.rules is longer than 1048576 characters "
                           "once its variables are replaced");

    directory.write("long.rules", "# fine\nmatch /" + QByteArray(2 << 20, 'x') + "/\nend match\n");
    EXPECT_EQ(faultLoading("long.rules"), "Line 2 of the rules file long.rules is longer than 1048576 bytes");

    QByteArray large;
    while (large.size() <= RulesFile::maximumFileSize)
        large += "# " + QByteArray(1000, 'c') + "\n";
    directory.write("large.rules", large);
    EXPECT_EQ(faultLoading("large.rules"), "The rules file large.rules is larger than 67108864 bytes");

    directory.write("zero.rules", "include ../../../../../../../../../../../../dev/zero\n");
    EXPECT_EQ(faultLoading("zero.rules"),
              "Line 1 of the rules file ../../../../../../../../../../../../dev/zero is longer than 1048576 bytes");
}

TEST_F(RulesLoaderFaults, IncludeCyclesEndWithAMessage)
{
    directory.write("self.rules", "match /x/\nend match\ninclude self.rules\n");
    EXPECT_EQ(faultLoading("self.rules"), "Rules file includes itself: self.rules");

    directory.write("a.rules", "include b.rules\n");
    directory.write("b.rules", "match /b/\nend match\ninclude a.rules\n");
    EXPECT_EQ(faultLoading("a.rules"), "Rules file includes itself: a.rules");

    // Another spelling of the same file is the same file.
    directory.write("conf/loop.rules", "include ../conf/loop.rules\n");
    EXPECT_EQ(faultLoading("conf/loop.rules"), "Rules file includes itself: conf/../conf/loop.rules");
}

TEST_F(RulesLoaderFaults, TheFirstFaultStopsTheLoading)
{
    expectFault("match /${W}/\nbogus\naction copy\n", "Undeclared variable: W");

    directory.write("bad.rules", "bogus\n");
    directory.write("good.rules", "match /x/\nend match\n");
    TestSupport::MessageCapture messages;
    RulesFileSet set("bad.rules,good.rules");
    EXPECT_EQ(faultOf(set), "Malformed line in rules file: line 1: bogus");
    EXPECT_EQ(messages.all(), QStringList({"D: Loading rules from: \"bad.rules\"", "D: Loading rules from \"bad.rules\""}));
    EXPECT_TRUE(set.matchRuleLists().isEmpty());
}

// The program reports a rules fault on standard error and exits with 1
// before anything is converted.
TEST_F(RulesLoaderFaults, TheProgramStopsWithTheMessage)
{
    directory.write("bad.rules", "create repository r\nend repository\nmatch /x/\n  action copy\nend match\n");
    const TestSupport::CommandResult result = TestSupport::shell(
        QStringLiteral("'%1' --rules bad.rules --identity-domain x.org /nonexistent/svn; echo \"exit status $?\"")
            .arg(TestSupport::tallowmereBinary()),
        directory.path());
    EXPECT_TRUE(result.standardOutput.endsWith("exit status 1\n")) << result.standardOutput.constData();
    EXPECT_TRUE(result.standardError.split('\n').contains("Invalid action \"copy\" on line 4"))
        << result.standardError.constData();
    EXPECT_FALSE(QFileInfo::exists(directory.path() + "/r"));
}
