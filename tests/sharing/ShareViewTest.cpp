#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "SharingGui.h"
#include "panels/ShareView.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Switch.h"

namespace sharing::test {
namespace {

class ShareViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearShareDefaults();
        panel = std::make_unique<panels::ShareView>();
        panel->show();
    }
    // Which of the panel's faces show: the input, the spinner, the link.
    static void expectShowing(panels::ShareView& p, bool input, bool spinner, bool link) {
        for (QWidget* w : QList<QWidget*>{p.comment, p.commentLabel, p.adjustments,
                                          p.adjustmentsLabel, p.ShareButton})
            EXPECT_EQ(w->isVisible(), input) << w->objectName().toStdString();
        EXPECT_EQ(p.uploading->isVisible(), spinner);
        EXPECT_EQ(p.uploading->isAnimating(), spinner);
        for (QWidget* w : QList<QWidget*>{p.output, p.copyLinkButton, p.openLinkButton})
            EXPECT_EQ(w->isVisible(), link) << w->objectName().toStdString();
    }
    static void answer(const QString& link, const QString& error = QString()) {
        defaults().setString(link, keys::ShOutput);
        defaults().setString(error, keys::ShError);
        defaults().setBool(true, keys::ShOutputReady);
    }

    std::unique_ptr<panels::ShareView> panel;
};

// Input, then the wait with a check every second, then the link or, with the
// input back, the failure.
TEST_F(ShareViewTest, ShareWritesTheRequestWaitsAndShowsTheAnswer) {
    const QString link = "http://127.0.0.1:8088/p/Abc12345";
    for (bool failed : {false, true}) {
        SCOPED_TRACE(failed);
        SetUp();
        expectShowing(*panel, true, false, false);
        EXPECT_TRUE(panel->adjustments->isOn());
        answer("old link", "old failure");
        panel->comment->setPlainText("Launch & <landing>");
        panel->adjustments->setOn(failed);
        tap(panel->ShareButton);

        EXPECT_EQ(defaults().integerForKey(keys::Share), 1);
        EXPECT_EQ(defaults().integerForKey("activate"), 1);
        EXPECT_FALSE(defaults().boolForKey(keys::ShOutputReady));
        EXPECT_EQ(defaults().stringForKey(keys::ShOutput), "");
        EXPECT_EQ(defaults().stringForKey(keys::ShError), "");
        EXPECT_EQ(defaults().stringForKey(keys::ShDescription), "Launch & <landing>");
        EXPECT_EQ(defaults().boolForKey(keys::ShAdjustments), failed);
        EXPECT_EQ(panel->comment->toPlainText(), "");
        expectShowing(*panel, false, true, false);
        EXPECT_EQ(panel->note->text(),
                  "Your picture is currently uploading. Please wait until the shortlink appears "
                  "before exiting this pop-up.");
        QTimer* timer = panels::ShareView::shareCheckTimer();
        ASSERT_NE(timer, nullptr);
        EXPECT_TRUE(timer->isActive());
        EXPECT_EQ(timer->interval(), 1000);
        panel->countDown3();
        expectShowing(*panel, false, true, false);

        answer(failed ? "" : link, failed ? "the service is down" : "");
        ASSERT_TRUE(waitFor([] { return !panels::ShareView::shareCheckTimer(); }, 10000));
        expectShowing(*panel, failed, false, !failed);
        EXPECT_EQ(panel->output->text(), failed ? "" : link);
        EXPECT_EQ(panel->comment->toPlainText(), failed ? "Launch & <landing>" : "");
        EXPECT_EQ(panel->note->text(),
                  failed ? "Your picture could not be uploaded: the service is down"
                         : "Your picture has been uploaded. You can copy the shortlink to the "
                           "picture to the clipboard and share it with your friends on Twitter, "
                           "Facebook, etc.");
    }
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

TEST_F(ShareViewTest, CopyPutsTheLinkOnTheClipboardAndOpenHandsOnlyWebAddressesOn) {
    testing_gui::UrlSink catcher({"http", "https", "file", "javascript"});
    for (const char* text :
         {"http://127.0.0.1:8088/p/Abc12345", "", "not a link", "file:///etc/passwd",
          "javascript:alert(1)", "http://", "https://share.example/p/x y"}) {
        SCOPED_TRACE(text);
        panel->output->setText(text);
        tap(panel->openLinkButton);
        tap(panel->copyLinkButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
    }
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl("http://127.0.0.1:8088/p/Abc12345"));
}

}  // namespace
}  // namespace sharing::test
