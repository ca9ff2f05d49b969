#include <gtest/gtest.h>
#include <httplib.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QUrl>

#include "SharingGui.h"
#include "app/lumaroViewController.h"
#include "panels/ShareView.h"
#include "share_service/ShareServiceRunner.h"

namespace sharing::test {
namespace {

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
