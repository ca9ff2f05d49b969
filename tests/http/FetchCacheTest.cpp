// lumaro-fetch --cache run as a program against nginx, whose access log says which runs
// reached it.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "LoggingNginx.h"
#include "http/FetchRun.h"
#include "support/Files.h"

namespace {

using testfiles::readFile;
using testfiles::writeFile;

using Outcome = testsupport::ProgramRun;
Outcome fetch(const QStringList& arguments) { return testsupport::runFetch(arguments); }

class FetchCache : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(dir_.path()).mkdir("root");
        writeFile(dir_.filePath("root/page.txt"), body_);
        nginx_ = std::make_unique<LoggingNginx>(dir_.filePath("root"));
        url_ = nginx_->url("/page.txt").toString();
    }
    QStringList cache(const QString& policy) const {
        return {"--cache", dir_.filePath("cache"), "--cache-policy", policy};
    }

    QTemporaryDir dir_;
    const QByteArray body_ = testfiles::pattern(100000);
    std::unique_ptr<LoggingNginx> nginx_;
    QString url_;
};

// Each run is a new process: only the permanent store outlives it.
TEST_F(FetchCache, PermanentAnswersServeLaterRunsAndRevalidateWithPolicy8) {
    const QString out = dir_.filePath("out.bin");
    const struct {
        QStringList options;
        QStringList reached;
        int copies = 1;
    } steps[] = {
        {cache("4") + QStringList{url_}, {"200"}, 2},
        {cache("4"), {"200"}},
        {cache("4") + QStringList{"--cache-permanent"}, {"200"}},
        {cache("4") + QStringList{"-Z", "-o", out}, {}},
        {cache("8") + QStringList{"-o", out}, {"304"}},
        // Stored again, stale from the start: policy 16 still takes it, policy 4 asks.
        {cache("1") + QStringList{"--cache-permanent", "--cache-seconds", "-5"}, {"200"}},
        {cache("16"), {}},
        {cache("4"), {"304"}},
    };
    QStringList reached;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.options.join(' ').toStdString());
        QFile::remove(out);
        const Outcome run = fetch(step.options + QStringList{url_});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(step.options.contains("-o") ? readFile(out) : run.out,
                  body_.repeated(step.copies));
        reached += step.reached;
        EXPECT_EQ(nginx_->statuses("/page.txt"), reached);
    }
}

TEST_F(FetchCache, BadCacheSettingsAreRefusedWithOneMessage) {
    writeFile(dir_.filePath("file"), "x");
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArray message;
    } cases[] = {
        {{"--cache", dir_.filePath("file"), url_},
         73,
         "Cannot create a directory for the cache at '" + dir_.filePath("file").toUtf8() +
             "', because a file already exists"},
        {{"--cache", dir_.filePath("c"), "--cache-policy", "128", url_}, 64, "--cache-policy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome run = fetch(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
    EXPECT_TRUE(nginx_->statuses("/page.txt").isEmpty());
}

}  // namespace
