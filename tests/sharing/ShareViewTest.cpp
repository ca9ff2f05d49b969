#include <gtest/gtest.h>

#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <memory>

#include "SharingGui.h"
#include "panels/ShareView.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Switch.h"

namespace sharing::test {
namespace {

// Receives the addresses the panel hands to the desktop instead of a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"http", "https", "file", "javascript"}) {
            QDesktopServices::setUrlHandler(scheme, this, "open");
        }
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"http", "https", "file", "javascript"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class ShareViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearShareDefaults();
        panel_ = std::make_unique<panels::ShareView>();
        panel_->resize(410, 350);
        panel_->show();
    }

    static QList<QWidget*> inputControls(panels::ShareView& p) {
        return {p.comment, p.commentLabel, p.adjustments, p.adjustmentsLabel, p.ShareButton};
    }
    static QList<QWidget*> resultControls(panels::ShareView& p) {
        return {p.output, p.copyLinkButton, p.openLinkButton};
    }
    static void expectVisible(const QList<QWidget*>& widgets, bool visible) {
        for (QWidget* w : widgets)
            EXPECT_EQ(w->isVisible(), visible) << w->objectName().toStdString();
    }
    void answer(const QString& link, const QString& error = QString()) {
        defaults().setString(link, keys::ShOutput);
        defaults().setString(error, keys::ShError);
        defaults().setBool(true, keys::ShOutputReady);
    }

    std::unique_ptr<panels::ShareView> panel_;
};

TEST_F(ShareViewTest, ShareWritesTheRequestEmptiesTheBoxAndWaits) {
    for (bool withAdjustments : {true, false}) {
        SCOPED_TRACE(withAdjustments);
        SetUp();
        expectVisible(inputControls(*panel_), true);
        expectVisible(resultControls(*panel_), false);
        EXPECT_FALSE(panel_->uploading->isVisible());
        EXPECT_TRUE(panel_->adjustments->isOn());
        defaults().setString("old link", keys::ShOutput);
        defaults().setBool(true, keys::ShOutputReady);
        panel_->comment->setPlainText("Launch & <landing>");
        panel_->adjustments->setOn(withAdjustments);
        tap(panel_->ShareButton);

        EXPECT_EQ(defaults().integerForKey(keys::Share), 1);
        EXPECT_EQ(defaults().integerForKey("activate"), 1);
        EXPECT_FALSE(defaults().boolForKey(keys::ShOutputReady));
        EXPECT_TRUE(defaults().hasKey(keys::ShOutput));
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        EXPECT_EQ(defaults().stringForKey(keys::ShDescription), "Launch & <landing>");
        EXPECT_EQ(defaults().boolForKey(keys::ShAdjustments), withAdjustments);
        EXPECT_EQ(panel_->comment->toPlainText(), "");
        expectVisible(inputControls(*panel_), false);
        expectVisible(resultControls(*panel_), false);
        EXPECT_TRUE(panel_->uploading->isVisible());
        EXPECT_TRUE(panel_->uploading->isAnimating());
        EXPECT_EQ(panel_->note->text(),
                  "Your picture is currently uploading. Please wait until the shortlink appears "
                  "before exiting this pop-up.");
        QTimer* timer = panels::ShareView::shareCheckTimer();
        ASSERT_NE(timer, nullptr);
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
    }
}

TEST_F(ShareViewTest, TheCheckWaitsForTheAnswerThenShowsTheLinkAndStops) {
    tap(panel_->ShareButton);
    panel_->countDown3();
    EXPECT_TRUE(panel_->uploading->isVisible()) << "no answer yet: keeps waiting";
    ASSERT_NE(panels::ShareView::shareCheckTimer(), nullptr);

    QElapsedTimer clock;
    clock.start();
    answer("http://127.0.0.1:8088/p/Abc12345");
    ASSERT_TRUE(waitFor([&] { return panel_->output->isVisible(); }, 3000));
    EXPECT_LE(clock.elapsed(), 1300);
    EXPECT_EQ(panel_->output->text(), "http://127.0.0.1:8088/p/Abc12345");
    EXPECT_EQ(panel_->note->text(),
              "Your picture has been uploaded. You can copy the shortlink to the picture to the "
              "clipboard and share it with your friends on Twitter, Facebook, etc.");
    expectVisible(resultControls(*panel_), true);
    expectVisible(inputControls(*panel_), false);
    EXPECT_FALSE(panel_->uploading->isVisible());
    EXPECT_EQ(panels::ShareView::shareCheckTimer(), nullptr);
}

TEST_F(ShareViewTest, AFailureShowsItsReasonAndBringsTheInputBackForAnotherTry) {
    panel_->comment->setPlainText("Second try");
    tap(panel_->ShareButton);
    answer("", "the sharing service cannot be reached");
    panel_->countDown3();
    EXPECT_EQ(panel_->note->text(),
              "Your picture could not be uploaded: the sharing service cannot be reached");
    expectVisible(inputControls(*panel_), true);
    expectVisible(resultControls(*panel_), false);
    EXPECT_FALSE(panel_->uploading->isVisible());
    EXPECT_EQ(panel_->comment->toPlainText(), "Second try");
    EXPECT_EQ(panels::ShareView::shareCheckTimer(), nullptr);

    tap(panel_->ShareButton);
    EXPECT_EQ(defaults().integerForKey(keys::Share), 1);
    EXPECT_EQ(defaults().stringForKey(keys::ShError), "") << "a new try forgets the old failure";
    EXPECT_NE(panels::ShareView::shareCheckTimer(), nullptr);
}

TEST_F(ShareViewTest, OnlyOneCheckRunsAndAClosedPanelTakesItsCheckAlong) {
    tap(panel_->ShareButton);
    QPointer<QTimer> first = panels::ShareView::shareCheckTimer();
    auto second = std::make_unique<panels::ShareView>();
    second->show();
    expectVisible(inputControls(*second), true);
    tap(second->ShareButton);
    QTest::qWait(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    QPointer<QTimer> current = panels::ShareView::shareCheckTimer();
    ASSERT_FALSE(current.isNull());
    EXPECT_EQ(current->parent(), second.get());

    panel_.reset();
    EXPECT_FALSE(current.isNull()) << "closing another panel leaves the running check alone";
    second.reset();
    EXPECT_EQ(panels::ShareView::shareCheckTimer(), nullptr);
}

TEST_F(ShareViewTest, CopyPutsTheLinkOnTheClipboardAndOpenHandsOnlyWebAddressesOn) {
    UrlCatcher catcher;
    tap(panel_->ShareButton);
    answer("http://127.0.0.1:8088/p/Abc12345");
    panel_->countDown3();
    tap(panel_->copyLinkButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://127.0.0.1:8088/p/Abc12345");
    tap(panel_->openLinkButton);
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl("http://127.0.0.1:8088/p/Abc12345"));

    for (const char* text : {"", "not a link", "file:///etc/passwd", "javascript:alert(1)",
                             "http://", "https://share.example/p/x y"}) {
        SCOPED_TRACE(text);
        panel_->output->setText(text);
        panel_->OpenLink();
        panel_->CopyLink();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    }
    EXPECT_EQ(catcher.opened.size(), 1);
}

}  // namespace
}  // namespace sharing::test

#include "ShareViewTest.moc"
