#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

#include "share_service/ShareServiceRunner.h"
#include "support/Tool.h"

namespace sharing::test {
namespace {

// Runs lumaro-render with its own settings folder.
ToolRun render(const QString& home, const QStringList& arguments) {
    return runTool("lumaro-render", arguments, {"LUMARO_HOME=" + home});
}

QString sample(const char* name) { return qEnvironmentVariable("LUMARO_SAMPLES") + "/" + name; }

TEST(ShareRenderToolTest, RegistersOnceUploadsAndPrintsTheLink) {
    share::test::ShareServiceRunner service;
    QTemporaryDir home;
    const QString url = QString::fromStdString(service.url());
    const QRegularExpression link("^" + QRegularExpression::escape(url) + "/p/([A-Za-z0-9]{8})\n$");

    ToolRun first = render(home.path(), {sample("hubble_deep_field.jpg"), "--share", url, "--tone",
                                         "sepia", "--description", "Deep field"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    const auto record =
        service.store().findPicture(link.match(first.out).captured(1).toStdString());
    ASSERT_TRUE(record) << first.out.toStdString();
    EXPECT_EQ(record->description, "Deep field");
    EXPECT_NE(record->adjustments.find("<COL>Sepia</COL>"), std::string::npos);
    EXPECT_FALSE(record->userKey.empty()) << "the tool registers before its first upload";

    ToolRun second = render(home.path(), {sample("rocket.jpg"), "--share", url, "--no-record"});
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    const auto next = service.store().findPicture(link.match(second.out).captured(1).toStdString());
    ASSERT_TRUE(next) << second.out.toStdString();
    EXPECT_EQ(next->userKey, record->userKey) << "the key is kept under LUMARO_HOME";
    EXPECT_EQ(next->adjustments, "");
}

TEST(ShareRenderToolTest, FailuresPrintOneLineAndExitWithTheirCode) {
    QTemporaryDir home;
    const QString rocket = sample("rocket.jpg");
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{rocket, "--share", "http://127.0.0.1:1"}, 1, "registration failed: "},
        {{rocket, "--share", "ftp://x"}, 2, "--share takes an http:// address"},
        {{rocket, "--share", "http://127.0.0.1:1", "-o", "x.png"}, 2, "exclude each other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ToolRun run = render(home.path(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("lumaro-render: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
}

}  // namespace
}  // namespace sharing::test
