// The share panel on its own, and a photo shared from the application end to end.
#include <gtest/gtest.h>
#include <httplib.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <memory>

#include "SharingGui.h"
#include "app/lumaroViewController.h"
#include "panels/ShareView.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Switch.h"
#include "share_service/ShareServiceRunner.h"

namespace sharing::test {
namespace {

class ShareViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearShareDefaults();
        panel = std::make_unique<panels::ShareView>();
        panel->show();
    }
    // Whether the input shows (and with it no spinner), and the link's face.
    void expectShowing(bool input, bool link) {
        for (QWidget* w : QList<QWidget*>{panel->comment, panel->adjustments, panel->ShareButton})
            EXPECT_EQ(w->isVisible(), input) << w->objectName().toStdString();
        EXPECT_EQ(panel->uploading->isAnimating(), !input && !link);
        for (QWidget* w : QList<QWidget*>{panel->output, panel->copyLinkButton})
            EXPECT_EQ(w->isVisible(), link) << w->objectName().toStdString();
    }

    std::unique_ptr<panels::ShareView> panel;
};

// The request, the wait with a check every second, then the failure with the input back.
// (The link coming back is what the end-to-end test sees.)
TEST_F(ShareViewTest, ShareWritesTheRequestWaitsAndShowsAFailure) {
    defaults().setString("old link", keys::ShOutput);
    defaults().setString("old failure", keys::ShError);
    defaults().setBool(true, keys::ShOutputReady);
    panel->comment->setPlainText("Launch & <landing>");
    panel->adjustments->setOn(false);
    tap(panel->ShareButton);

    EXPECT_EQ(defaults().integerForKey(keys::Share), 1);
    EXPECT_EQ(defaults().integerForKey("activate"), 1);
    EXPECT_FALSE(defaults().boolForKey(keys::ShOutputReady));
    EXPECT_EQ(defaults().stringForKey(keys::ShOutput) + defaults().stringForKey(keys::ShError), "");
    EXPECT_EQ(defaults().stringForKey(keys::ShDescription), "Launch & <landing>");
    EXPECT_FALSE(defaults().boolForKey(keys::ShAdjustments));
    EXPECT_EQ(panel->comment->toPlainText(), "");
    expectShowing(false, false);
    EXPECT_EQ(panel->note->text(),
              "Your picture is currently uploading. Please wait until the shortlink appears "
              "before exiting this pop-up.");
    QTimer* timer = panels::ShareView::shareCheckTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 1000);
    panel->countDown3();
    expectShowing(false, false);

    defaults().setString("the service is down", keys::ShError);
    defaults().setBool(true, keys::ShOutputReady);
    ASSERT_TRUE(waitFor([] { return !panels::ShareView::shareCheckTimer(); }, 10000));
    expectShowing(true, false);
    EXPECT_EQ(panel->comment->toPlainText(), "Launch & <landing>");
    EXPECT_EQ(panel->note->text(), "Your picture could not be uploaded: the service is down");
}

TEST_F(ShareViewTest, OnlyOneCheckRunsAndAClosedPanelTakesItsCheckAlong) {
    tap(panel->ShareButton);
    QPointer<QTimer> first = panels::ShareView::shareCheckTimer();
    auto second = std::make_unique<panels::ShareView>();
    tap(second->ShareButton);
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    QPointer<QTimer> current = panels::ShareView::shareCheckTimer();
    ASSERT_FALSE(current.isNull());
    EXPECT_EQ(current->parent(), second.get());

    panel.reset();
    EXPECT_FALSE(current.isNull()) << "closing another panel leaves the running check alone";
    second.reset();
    EXPECT_EQ(panels::ShareView::shareCheckTimer(), nullptr);
}

TEST_F(ShareViewTest, OpenHandsOnlyWebAddressesOn) {
    testing_gui::UrlSink catcher({"http", "https", "file", "javascript"});
    for (const char* text :
         {"http://127.0.0.1:8088/p/Abc12345", "", "not a link", "file:///etc/passwd",
          "javascript:alert(1)", "http://", "https://share.example/p/x y"}) {
        SCOPED_TRACE(text);
        panel->output->setText(text);
        tap(panel->openLinkButton);
    }
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl("http://127.0.0.1:8088/p/Abc12345"));
}

// What a person does: open a photo, open the share panel, describe the
// picture, share it, and copy the link that comes back; the link then
// serves the page and the picture.
TEST(ShareEndToEndTest, APickedPhotoIsSharedAndItsLinkServesThePicture) {
    clearShareDefaults();
    share::test::ShareServiceRunner service;
    qputenv("LUMARO_SHARE_URL", QByteArray::fromStdString(service.url()));
    qputenv("LUMARO_SHARE_PROBE_HOST", "localhost");

    app::lumaroViewController controller;
    controller.view()->resize(768, 1024);
    controller.view()->show();
    EXPECT_FALSE(controller.Share->isEnabled()) << "nothing to share before a photo is open";
    controller.pickFile(qEnvironmentVariable("LUMARO_SAMPLES") + "/rocket.jpg");
    ASSERT_TRUE(
        waitFor([&] { return !controller.isOpeningPicture() && controller.pickerInfo(); }, 20000));
    ASSERT_TRUE(controller.Share->isEnabled());

    controller.Share->click();
    ASSERT_NE(controller.popoverController(), nullptr);
    auto* panel = qobject_cast<panels::ShareView*>(controller.popoverController()->content());
    ASSERT_NE(panel, nullptr);
    QTest::keyClicks(panel->comment, "Launch");
    tap(panel->ShareButton);

    ASSERT_TRUE(waitFor([&] { return panel->output->isVisible(); }, 30000))
        << defaults().stringForKey(keys::ShError).toStdString();
    const QString link = panel->output->text();
    ASSERT_TRUE(link.startsWith(QString::fromStdString(service.url()) + "/p/"))
        << link.toStdString();
    EXPECT_EQ(defaults().integerForKey(keys::Share), 0) << "exactly one upload was started";
    EXPECT_EQ(panel->note->text(),
              "Your picture has been uploaded. You can copy the shortlink to the picture to the "
              "clipboard and share it with your friends on Twitter, Facebook, etc.");
    // The first upload goes out alongside the registration, before the key is known.
    const auto record = service.store().findPicture(link.section('/', -1).toStdString());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->userKey, "");
    ASSERT_TRUE(waitFor([] { return defaults().integerForKey(keys::Registered) == 1; }, 20000));
    EXPECT_TRUE(service.store().hasUser(defaults().stringForKey(keys::PrivateKey).toStdString()));
    tap(panel->copyLinkButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);

    httplib::Client browser("127.0.0.1", service.port());
    const std::string path = QUrl(link).path().toStdString();
    auto page = browser.Get(path);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<p class=\"description\">Launch</p>"), std::string::npos);
    EXPECT_NE(page->body.find("<dt>Tone</dt><dd>B&amp;W</dd>"), std::string::npos);
    auto picture = browser.Get(path + ".png");
    ASSERT_TRUE(picture);
    const QImage image = QImage::fromData(QByteArray::fromStdString(picture->body), "PNG");
    EXPECT_EQ(image.size(), QSize(640, 427));
    const QRgb pixel = image.pixel(320, 200);
    EXPECT_EQ(qRed(pixel), qGreen(pixel)) << "the rendered picture, not the colour photo";
    EXPECT_EQ(qGreen(pixel), qBlue(pixel));
}

}  // namespace
}  // namespace sharing::test
