// lumaro-fetch -C against servers that answer the range request in every way they can: only
// a continuation from the right byte is appended, and a partial file is never lost to an
// answer that does not complete it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "FetchRun.h"
#include "ScriptedAnswers.h"
#include "servers/ScriptedServer.h"

namespace {

using lumaro::test::ScriptedConnection;
using lumaro::test::ScriptedServer;

struct Answer {
    const char* name;
    std::string response;  // sent as it is; the connection closes after it
    QByteArray fileAfter;
    int exitCode;
    QString message;  // the tool's line on standard error, "" for none
};

using scripted::answer;

const Answer answers[] = {
    // clang-format off
    {"ContinuationFromTheEnd", answer("56789", "Content-Range: bytes 5-9/10\r\n", "206 Partial Content"), "0123456789", 0, ""},
    {"RangeFromTheStart", answer("0123456789", "Content-Range: bytes 0-9/10\r\n", "206 Partial Content"), "01234", 1, "The server did not resume the download at byte 5"},
    {"PartialAnswerWithoutARange", answer("56789", "", "206 Partial Content"), "01234", 1, "The server did not resume the download at byte 5"},
    {"UnsatisfiableForTheLengthHeld", answer("<html>416</html>", "Content-Range: bytes */5\r\n", "416 Range Not Satisfiable"), "01234", 0, "is already complete"},
    {"UnsatisfiableForAnotherLength", answer("<html>416</html>", "Content-Range: bytes */3\r\n", "416 Range Not Satisfiable"), "01234", 1, "The server cannot resume the download at byte 5"},
    {"WholeBodyAgain", answer("abcdefghij"), "abcdefghij", 0, ""},
    {"WholeBodyCutShort", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", "01234", 1, "connection failure"},
    {"NotFound", answer("<html>gone</html>", "", "404 Not Found"), "01234", 22, "returned error: 404;"},
    // clang-format on
};

class ResumeAnswer : public ::testing::TestWithParam<Answer> {};

TEST_P(ResumeAnswer, OnlyAContinuationIsAppendedAndNothingIsLeftAround) {
    const Answer& answer = GetParam();
    std::string rangeAsked;
    ScriptedServer server([&](ScriptedConnection& connection) {
        const auto request = connection.readRequest();
        if (!request) return;
        rangeAsked = request->header("Range");
        connection.send(answer.response);
        connection.close();
    });
    QTemporaryDir dir;
    const QString output = dir.filePath("out.bin");
    QFile file(output);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("01234") == 5);
    file.close();

    const auto run = testsupport::runFetch(
        {"--no-keepalive", "-C", "-o", output, QString::fromStdString(server.url("/f"))});
    const QString err = QString::fromUtf8(run.err);
    EXPECT_EQ(rangeAsked, "bytes=5-");
    EXPECT_EQ(run.exitCode, answer.exitCode) << err.toStdString();
    EXPECT_TRUE(err.contains(answer.message, Qt::CaseInsensitive)) << err.toStdString();
    EXPECT_EQ(err.count('\n'), answer.message.isEmpty() ? 0 : 1) << err.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), answer.fileAfter);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.bin"});
}

INSTANTIATE_TEST_SUITE_P(Answers, ResumeAnswer, ::testing::ValuesIn(answers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
