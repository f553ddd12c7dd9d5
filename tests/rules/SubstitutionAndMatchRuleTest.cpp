#include "RulesTestSupport.h"

#include "rules/MatchRule.h"
#include "rules/Substitution.h"

#include <QMap>
#include <gtest/gtest.h>

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

TEST(Substitution, RewritesEveryMatchWithBackReferences)
{
    const Substitution dashes = parseSubstitution("s/-/_/");
    ASSERT_TRUE(dashes.isValid());
    EXPECT_EQ(dashes.regexp.pattern(), "-");
    EXPECT_EQ(dashes.replacement, "_");
    EXPECT_EQ(dashes.apply("rel-1-2"), "rel_1_2");

    const Substitution captures = parseSubstitution("s/(\\d+)/rev\\1/");
    ASSERT_TRUE(captures.isValid());
    EXPECT_EQ(captures.apply("12"), "rev12");
    EXPECT_EQ(captures.apply("a1b22"), "arev1brev22");

    const Substitution swapped = parseSubstitution("s/([a-z]+)-([0-9]+)/\\2.\\1/");
    EXPECT_EQ(swapped.apply("beta-7"), "7.beta");

    // The delimiter found last may be the final character: empty replacement.
    const Substitution removal = parseSubstitution("s/abc/");
    ASSERT_TRUE(removal.isValid());
    EXPECT_TRUE(removal.replacement.isEmpty());
    EXPECT_EQ(removal.apply("xabcyabc"), "xy");

    // Substitution patterns are case-sensitive.
    EXPECT_EQ(parseSubstitution("s/a/b/").apply("aA"), "bA");
}

TEST(Substitution, DelimitersAndEscapes)
{
    const Substitution commas = parseSubstitution("s,a/b,c,");
    ASSERT_TRUE(commas.isValid());
    EXPECT_EQ(commas.regexp.pattern(), "a/b");
    EXPECT_EQ(commas.apply("xa/by"), "xcy");

    const Substitution escaped = parseSubstitution("s/a\\/b/c/");
    ASSERT_TRUE(escaped.isValid());
    EXPECT_EQ(escaped.regexp.pattern(), "a\\/b");
    EXPECT_EQ(escaped.replacement, "c");
    EXPECT_EQ(escaped.apply("a/b"), "c");

    // Two backslashes escape each other, so the delimiter after them ends the pattern.
    const Substitution doubled = parseSubstitution("s/a\\\\/x/");
    ASSERT_TRUE(doubled.isValid());
    EXPECT_EQ(doubled.regexp.pattern(), "a\\\\");
    EXPECT_EQ(doubled.replacement, "x");
    EXPECT_EQ(doubled.apply("a\\b"), "xb");
}

TEST(Substitution, RejectsMalformedTexts)
{
    // Empty pattern, too short, wrong letter, different delimiters, no text,
    // a pattern that does not compile, and a delimiter that is only escaped.
    const char *invalid[] = {"s//x/", "s/x/", "q/a/b/", "s/a/b#", "", "s", "s/(/x/", "s/ab\\/"};
    for (const char *text : invalid) {
        const Substitution substitution = parseSubstitution(text);
        EXPECT_FALSE(substitution.isValid()) << text;
    }
    // Any character can be the delimiter.
    EXPECT_TRUE(parseSubstitution("sxaxbx").isValid());
    EXPECT_EQ(parseSubstitution("sxaxbx").apply("cab"), "cbb");
}

TEST(MatchRule, SummaryIdentityAndOrder)
{
    const MatchRule trunk = rule("a.rules", 12, "/trunk/");
    EXPECT_EQ(trunk.summary(), "a.rules:12 /trunk/");

    MatchRule copy = trunk;
    copy.pattern = QRegExp("/other/");
    EXPECT_TRUE(copy == trunk);
    EXPECT_FALSE(rule("b.rules", 12, "/trunk/") == trunk);
    EXPECT_FALSE(rule("a.rules", 13, "/trunk/") == trunk);

    QMap<MatchRule, int> ordered;
    ordered.insert(rule("b.rules", 1, "b1"), 0);
    ordered.insert(rule("a.rules", 10, "a10"), 0);
    ordered.insert(rule("a.rules", 9, "a9"), 0);
    ordered.insert(rule("B.rules", 50, "B50"), 0);
    ordered.insert(rule("a.rules", 9, "a9 again"), 0);
    QStringList summaries;
    for (auto it = ordered.constBegin(); it != ordered.constEnd(); ++it)
        summaries.append(it.key().summary());
    EXPECT_EQ(summaries, QStringList({"B.rules:50 B50", "a.rules:9 a9", "a.rules:10 a10", "b.rules:1 b1"}));

    TestSupport::MessageCapture messages;
    qDebug() << "rule" << trunk;
    EXPECT_EQ(messages.all(), QStringList({"D: rule \"a.rules:12 /trunk/\""}));
}
