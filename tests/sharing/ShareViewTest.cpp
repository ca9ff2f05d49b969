#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sharing::test
