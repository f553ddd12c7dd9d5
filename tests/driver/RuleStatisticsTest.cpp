#include "OutputCapture.h"

#include "driver/RuleStatistics.h"

#include <gtest/gtest.h>

using TestSupport::captureStdout;
using TestSupport::MessageCapture;

namespace {

MatchRule rule(const char *file, int line, const char *pattern)
{
    MatchRule result;
    result.rulesFile = QString::fromUtf8(file);
    result.lineNumber = line;
    result.pattern = QRegExp(QString::fromUtf8(pattern), Qt::CaseSensitive, QRegExp::RegExp2);
    return result;
}

} // namespace

TEST(RuleStatistics, DisabledWithoutTheStatsOptionDoesNothing)
{
    RuleStatistics disabled(false);
    RuleStatistics *statistics = &disabled;
    EXPECT_FALSE(statistics->isEnabled());

    MessageCapture messages;
    const QByteArray report = captureStdout([&] {
        statistics->registerRule(rule("a.rules", 1, "/trunk/"));
        statistics->registerRule(rule("a.rules", 1, "/trunk/"));
        statistics->countMatch(rule("b.rules", 2, "/never/"));
        statistics->printReport();
    });
    EXPECT_TRUE(report.isEmpty()) << report.constData();
    EXPECT_TRUE(messages.all().isEmpty()) << messages.all().join('\n').toStdString();
}

TEST(RuleStatistics, ReportListsRulesByFileThenLine)
{
    RuleStatistics enabled(true);
    RuleStatistics *statistics = &enabled;
    ASSERT_TRUE(statistics->isEnabled());

    MessageCapture messages;
    statistics->registerRule(rule("b.rules", 1, "/b/"));
    statistics->registerRule(rule("a.rules", 12, "/twelve/"));
    statistics->registerRule(rule("a.rules", 3, "/trunk/"));
    statistics->registerRule(rule("B.rules", 5, "/upper/"));
    statistics->registerRule(rule("conf/inc.rules", 2, "/([^/]+)/"));
    statistics->countMatch(rule("a.rules", 3, "/trunk/"));
    statistics->countMatch(rule("a.rules", 3, "/trunk/"));
    statistics->countMatch(rule("b.rules", 1, "/b/"));
    EXPECT_TRUE(messages.warnings().isEmpty());

    const QByteArray report = captureStdout([&] { statistics->printReport(); });
    EXPECT_EQ(report.toStdString(),
              "\nRule stats\n"
              "B.rules:5 /upper/ was matched 0 times\n"
              "a.rules:3 /trunk/ was matched 2 times\n"
              "a.rules:12 /twelve/ was matched 0 times\n"
              "b.rules:1 /b/ was matched 1 times\n"
              "conf/inc.rules:2 /([^/]+)/ was matched 0 times\n");
}

TEST(RuleStatistics, WarnsAboutDoubleRegistrationAndUnregisteredMatches)
{
    RuleStatistics enabled(true);
    RuleStatistics *statistics = &enabled;

    MessageCapture messages;
    statistics->registerRule(rule("a.rules", 3, "/trunk/"));
    statistics->countMatch(rule("a.rules", 3, "/trunk/"));
    // Registered again, the count starts over.
    statistics->registerRule(rule("a.rules", 3, "/trunk/"));
    statistics->countMatch(rule("c.rules", 7, "/tags/"));
    statistics->countMatch(rule("c.rules", 7, "/tags/"));
    EXPECT_EQ(messages.warnings(),
              QStringList({"WARN: Rule \"a.rules:3 /trunk/\" was added multiple times.",
                           "WARN: New match rule \"c.rules:7 /tags/\" , should have been added when created."}));

    const QByteArray report = captureStdout([&] { statistics->printReport(); });
    EXPECT_EQ(report.toStdString(),
              "\nRule stats\n"
              "a.rules:3 /trunk/ was matched 0 times\n"
              "c.rules:7 /tags/ was matched 2 times\n");

    // A new instance starts empty.
    const RuleStatistics another(true);
    const QByteArray fresh = captureStdout([&] { another.printReport(); });
    EXPECT_EQ(fresh.toStdString(), "\nRule stats\n");
}
