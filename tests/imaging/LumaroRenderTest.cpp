#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "TestPictures.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "support/Files.h"
#include "support/Tool.h"

namespace {

QString samples() { return qEnvironmentVariable("LUMARO_SAMPLES"); }

ToolRun lumaroRender(const QStringList& arguments) { return runTool("lumaro-render", arguments); }

class LumaroRender : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString out(const QString& name) const { return dir.filePath(name); }
    QStringList leftovers() const { return QDir(dir.path()).entryList(QDir::Files); }
};

TEST_F(LumaroRender, ExportWritesExactlyWhatTheLibraryRenders) {
    const QString png = out("rocket.png");
    const ToolRun run =
        lumaroRender({samples() + "/rocket.jpg", "-o", png, "--export", "--tone", "sepia",
                      "--vignette", "30", "--light", "4.5", "--filter", "green"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());

    auto picture = imaging::Picture::fromFile(samples() + "/rocket.jpg");
    ASSERT_TRUE(picture);
    imaging::AdjustmentState state;
    imaging::resetState(state);
    state.toneOn = 1, state.toneType = 1;
    state.vigEnabled = 1, state.vigOn = 1, state.vigRadius = 30;
    state.filterType = 2;
    imaging::Renderer renderer(state);
    renderer.setSliderSource([] {
        imaging::SliderValues s;
        s.slider1 = 4.5f;
        return s;
    });
    const QImage expected =
        imaging::imageFromBitmap(renderer.fullResolutionRender(imaging::uprightPicture(*picture)));
    const QImage written(png);
    ASSERT_EQ(written.size(), QSize(640, 427));
    EXPECT_EQ(written.convertToFormat(QImage::Format_ARGB32_Premultiplied), expected);
}

TEST_F(LumaroRender, FitsToTheOutputSizeAndRepeatsNoiseForASeed) {
    const QStringList coffee = QStringList{samples() + "/coffee.png"} +
                               QString("--size 300 --renderer banded --noise 60 --seed").split(' ');
    for (const auto& [seed, name] : {std::pair{"99", "a.png"}, {"99", "b.png"}, {"100", "c.png"}})
        ASSERT_EQ(lumaroRender(coffee + QStringList{seed, "-o", out(name)}).exitCode, 0);
    const QImage a(out("a.png")), b(out("b.png")), c(out("c.png"));
    EXPECT_EQ(a.size(), QSize(300, 200));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);

    // Default size 650 keeps a smaller picture as it is; JPEG by extension.
    const QStringList everything =
        QString(
            "--lanes --lane-light 1,2,3 --lane-dark -1,0,2.5 --tint 255,200,150 --exposure 120 "
            "--quant 8 --alpha 50 --invert --vignette-effect lighten --quality 80")
            .split(' ');
    const ToolRun cat =
        lumaroRender(QStringList{samples() + "/chelsea.png", "-o", out("cat.jpeg")} + everything);
    ASSERT_EQ(cat.exitCode, 0) << cat.err.toStdString();
    EXPECT_EQ(QImage(out("cat.jpeg")).size(), QSize(451, 300));
}

TEST_F(LumaroRender, BadInputOptionsOrOutputFailWithOneLineAndLeaveNoFile) {
    ASSERT_TRUE(testfiles::writeFile(
        out("corrupt.jpg"),
        QByteArray::fromHex("FFD8FFE0") + " not really a jpeg" + QByteArray(3000, 0x17)));
    const QString rocket = samples() + "/rocket.jpg";

    const QString x = out("x.png");
    QList<QStringList> failing = {
        {rocket, "-o", out("x.gif")},
        {rocket},
        {"-o", x},
        {out("missing.jpg"), "-o", x},
        {out("corrupt.jpg"), "-o", x},
        {rocket, "-o", out("no/such/dir/x.png")},
    };
    for (const char* options :
         {"--filter purple", "--light bright", "--lane-light 1,2", "--noise 101", "--tint 300,0,0",
          "--size", "--sharpen", "--tone sepia --tint 1,2,3"})
        failing.append(QStringList{rocket, "-o", x} + QString(options).split(' '));
    for (const QStringList& args : failing) {
        const ToolRun run = lumaroRender(args);
        EXPECT_NE(run.exitCode, 0) << args.join(' ').toStdString();
        const QString text = run.err.trimmed();
        EXPECT_FALSE(text.isEmpty()) << args.join(' ').toStdString();
        EXPECT_FALSE(text.contains('\n')) << text.toStdString();
        EXPECT_TRUE(text.startsWith("lumaro-render: ")) << text.toStdString();
    }
    EXPECT_EQ(leftovers(), QStringList{"corrupt.jpg"});

    // A failed run keeps an earlier result instead of truncating it.
    ASSERT_EQ(lumaroRender({rocket, "-o", out("keep.png"), "--size", "50"}).exitCode, 0);
    const QByteArray before = testfiles::readFile(out("keep.png"));
    EXPECT_NE(lumaroRender({out("corrupt.jpg"), "-o", out("keep.png")}).exitCode, 0);
    EXPECT_EQ(testfiles::readFile(out("keep.png")), before);
    EXPECT_EQ(leftovers(), (QStringList{"corrupt.jpg", "keep.png"}));
}

}  // namespace
