#include "E2eBench.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

const QByteArray trunkRules = R"(
create repository proj
end repository
match /trunk/
  repository proj
  branch master
end match
)";

} // namespace

TEST(EndToEndContent, HostileFileNamesAndAuthors)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    const QString blank = QStringLiteral("with blank.txt");
    const QString quotes = QStringLiteral("quote\"and'apostrophe");
    const QString unicode = QStringLiteral("gr\u00fc\u00dfe-\u65e5\u672c.txt");
    const QString dashes = QStringLiteral("--leading-dashes");
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "trunk/dir with blank",
                            "put", "@1\n", "trunk/" + blank,
                            "put", "@2\n", "trunk/" + quotes,
                            "put", "@3\n", "trunk/" + unicode,
                            "put", "@4\n", "trunk/" + dashes,
                            "put", "@5\n", "trunk/dir with blank/-x",
                            "put", "@link target/file", "trunk/link",
                            "propset", "svn:special", "*", "trunk/link",
                            "put", "@#!/bin/sh\n", "trunk/run",
                            "propset", "svn:executable", "*", "trunk/run"}), 1);
    ASSERT_EQ(bench.commit({"put", "@6\n", "trunk/" + blank}, "second"), 2);
    bench.setRevisionProperty(2, "svn:author", "mallory\ncommitter evil <evil@x> 0 +0000\n<x>");

    const QString rules = bench.writeRules("proj.rules", trunkRules);
    const auto result = bench.convert({"--rules", rules, "--identity-domain", "example.com"});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();

    EXPECT_EQ(bench.tree("proj", "master"),
              QStringList({dashes + " 100644", "dir with blank/-x 100644", unicode + " 100644",
                           "link 120000", quotes + " 100644", "run 100755",
                           blank + " 100644"}));
    EXPECT_EQ(bench.fileAt("proj", "master", blank), QByteArray("6\n"));
    EXPECT_EQ(bench.fileAt("proj", "master", unicode), QByteArray("3\n"));
    EXPECT_EQ(bench.fileAt("proj", "master", "link"), QByteArray("target/file"));

    EXPECT_EQ(bench.git("proj", {"log", "--format=%an|%ae|%cn|%ce|%s", "master"}),
              QByteArray("mallory committer evil evil@x 0 +0000 x|"
                         "mallory committer evil evil@x 0 +0000 x@example.com|"
                         "mallory committer evil evil@x 0 +0000 x|"
                         "mallory committer evil evil@x 0 +0000 x@example.com|second\n"
                         "alice|alice@example.com|alice|alice@example.com|change\n"));
    EXPECT_TRUE(bench.fsckClean("proj"));
}

TEST(EndToEndContent, IgnorePropertiesAndEmptyDirectories)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "mkdir", "trunk/src", "put", "@m\n", "trunk/src/m.c",
                            "propset", "svn:ignore", "*.o\nbuild\n", "trunk/src",
                            "mkdir", "trunk/docs", "put", "@d\n", "trunk/docs/d",
                            "mkdir", "trunk/empty"}), 1);
    ASSERT_EQ(bench.commit({"rm", "trunk/docs/d"}), 2);
    ASSERT_EQ(bench.commit({"put", "@e\n", "trunk/docs/e"}), 3);
    const QString rules = bench.writeRules("proj.rules", trunkRules);
    const auto result = bench.convert({"--rules", rules, "--svn-ignore", "--empty-dirs"});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.constData();

    EXPECT_EQ(bench.tree("proj", "master~2"),
              QStringList({"docs/d 100644", "empty/.gitignore 100644", "src/.gitignore 100644",
                           "src/m.c 100644"}));
    EXPECT_EQ(bench.fileAt("proj", "master~2", "src/.gitignore"), QByteArray("/*.o\n/build\n"));
    EXPECT_EQ(bench.fileAt("proj", "master~2", "empty/.gitignore"), QByteArray());
    EXPECT_EQ(bench.tree("proj", "master~1"),
              QStringList({"docs/.gitignore 100644", "empty/.gitignore 100644",
                           "src/.gitignore 100644", "src/m.c 100644"}));
    EXPECT_EQ(bench.tree("proj", "master"),
              QStringList({"docs/e 100644", "empty/.gitignore 100644", "src/.gitignore 100644",
                           "src/m.c 100644"}));
}

// An identity fast-import cannot parse would kill it and cost every ref: the
// whole map is checked first, every faulty line is named, nothing is touched.
TEST(EndToEndContent, IdentityMapWithFaultyLinesConvertsNothing)
{
    E2eBench bench;
    ASSERT_TRUE(bench.isValid());
    ASSERT_EQ(bench.commit({"mkdir", "trunk", "put", "@1\n", "trunk/f"}, "first", "root"), 1);
    const QString rules = bench.writeRules("proj.rules", trunkRules);
    const QString identities = bench.path("identities");
    TestSupport::writeFile(identities, "root = Root Person\n"
                                       "alice = Alice <alice@example.com>\n"
                                       "bob Bob <bob@example.com> (builder)\n");

    const auto refused = bench.convert({"--rules", rules, "--identity-map", identities});
    EXPECT_EQ(refused.exitCode, 1);
    const QByteArray reason = ": not a git identity (a name, a blank and an address in angle "
                               "brackets, as in \"Jane Doe <jane@example.com>\"): ";
    const QByteArray file = identities.toUtf8();
    const QByteArray messages = refused.standardError;
    EXPECT_TRUE(messages.contains(file + ":1" + reason + "root = Root Person\n")) << messages.constData();
    EXPECT_TRUE(messages.contains(file + ":3" + reason + "bob Bob <bob@example.com> (builder)\n"));
    EXPECT_FALSE(messages.contains(file + ":2"));
    EXPECT_TRUE(messages.contains("Nothing was converted: mend the identity map " + file + " and run again\n"));
    EXPECT_FALSE(refused.standardOutput.contains("Exporting revision"));
    EXPECT_TRUE(QDir(bench.outputDirectory()).isEmpty());

    TestSupport::writeFile(identities, "root = Root Person <root@example.com>\n");
    const auto converted = bench.convert({"--rules", rules, "--identity-map", identities});
    ASSERT_EQ(converted.exitCode, 0) << converted.standardError.constData();
    EXPECT_EQ(bench.git("proj", {"log", "--format=%an <%ae>", "master"}),
              QByteArray("Root Person <root@example.com>\n"));
    EXPECT_TRUE(bench.fsckClean("proj"));
}
