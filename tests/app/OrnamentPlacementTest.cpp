#include "AppTestSupport.h"

namespace {

using namespace testing_gui;

QRect frameInView(const QWidget* widget, const QWidget* view) {
    return QRect(widget->mapTo(view, QPoint(0, 0)), widget->size());
}

// Where a picture's text lies, as fractions of the picture: measured on the
// drawings (the banner's title and line, the card's caption).
QRect textRect(const QWidget* picture, const QWidget* view, QRectF fraction) {
    const QRect frame = frameInView(picture, view);
    return QRectF(frame.x() + fraction.x() * frame.width(),
                  frame.y() + fraction.y() * frame.height(), fraction.width() * frame.width(),
                  fraction.height() * frame.height())
        .toRect();
}

const QRectF bannerText(150.0 / 600, 40.0 / 130, 290.0 / 600, 68.0 / 130);
const QRectF cardCaption(95.0 / 460, 302.0 / 360, 270.0 / 460, 28.0 / 360);

class OrnamentPlacementTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        defaults().setBool(true, "PreOrnaments");
        defaults().setInteger(1, "Ornaments");
    }

    QList<QLabel*> visibleTapes() const {
        QList<QLabel*> tapes;
        for (QLabel* t :
             {controller->tape1, controller->tape2, controller->tape3, controller->tape4,
              controller->extape1, controller->extape2, controller->extape3, controller->extape4})
            if (t->isVisible()) tapes.append(t);
        return tapes;
    }
};

// On the start screen the decoration covers no text; on a picture each piece holds its corner.
// Either way no piece crosses the toolbar or the control area, or leaves the view.
TEST_F(OrnamentPlacementTest, TapesStayClearOfTextToolbarAndControls) {
    const struct {
        QSize picture;  // none: the start screen
        int outputSize;
        QSize window;
    } cases[] = {
        {{}, 650, {768, 1024}},
        {{}, 650, {480, 640}},
        {{}, 650, {900, 1200}},
        {{400, 300}, 650, {768, 1024}},
        {{1200, 1800}, 1300, {768, 1024}},
        {{1800, 1200}, 1300, {480, 640}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(testing::Message() << each.picture.width() << "x" << each.picture.height()
                                        << " at " << each.outputSize << " in "
                                        << each.window.width() << "x" << each.window.height());
        defaults().setInteger(each.outputSize, "Size");
        auto& c = start();
        c.view()->resize(each.window);
        QApplication::processEvents();
        QWidget* view = c.view();
        if (each.picture.isEmpty()) {
            ASSERT_TRUE(
                waitFor([&] { return c.extape1->isVisible() && !c.extape1->size().isEmpty(); }));
            QApplication::processEvents();
            ASSERT_EQ(visibleTapes().size(), 8);
            for (QLabel* tape : visibleTapes()) {
                const QRect piece = frameInView(tape, view);
                EXPECT_FALSE(piece.intersects(textRect(c.disp, view, cardCaption)));
                EXPECT_FALSE(piece.intersects(textRect(c.sbanner, view, bannerText)))
                    << tape->objectName().toStdString();
            }
        } else {
            pick(writeGradient(library + "/picture.png", each.picture));
            QApplication::processEvents();
            ASSERT_EQ(visibleTapes().size(), 4);
            const QRectF shown =
                c.image->displayedRect().translated(c.image->mapTo(view, QPoint(0, 0)));
            const QPointF corners[] = {shown.topLeft(), shown.topRight(), shown.bottomLeft(),
                                       shown.bottomRight()};
            const QLabel* tapes[] = {c.tape1, c.tape2, c.tape3, c.tape4};
            for (int i = 0; i < 4; ++i)
                EXPECT_TRUE(
                    QRectF(frameInView(tapes[i], view)).adjusted(-1, -1, 1, 1).contains(corners[i]))
                    << i;
        }
        const QRect toolbar = frameInView(view->findChild<QWidget*>("toolbar"), view);
        const QRect stage = frameInView(c.image->parentWidget(), view);
        for (QLabel* tape : visibleTapes()) {
            SCOPED_TRACE(tape->objectName().toStdString());
            const QRect piece = frameInView(tape, view);
            EXPECT_FALSE(piece.isEmpty() || piece.intersects(toolbar));
            EXPECT_TRUE(stage.contains(piece));
            EXPECT_FALSE(c.darkArea->isVisible() &&
                         piece.intersects(frameInView(c.darkArea, view)));
        }
        controller.reset();
    }
}

TEST_F(OrnamentPlacementTest, AnOpenPopoverStaysAboveTheOrnaments) {
    const std::pair<const char*, std::function<void(app::lumaroViewController&)>> changes[] = {
        {"size 1300 and a render",
         [](app::lumaroViewController& c) {
             defaults().setInteger(1300, "Size");
             defaults().setInteger(1, "activate");
             c.countDown2();
             c.MonoCore();
         }},
        {"a save indicator", [](app::lumaroViewController& c) { c.SaveImage(); }},
    };
    for (const auto& [name, apply] : changes) {
        SCOPED_TRACE(name);
        auto& c = startEditing();
        c.showSettings();
        platform::Popover* popover = c.popoverController();
        ASSERT_TRUE(popover && popover->isVisible());
        apply(c);
        QApplication::processEvents();
        ASSERT_TRUE(popover->isVisible() && c.tape1->isVisible());
        // Among the view's children, later is higher.
        const QObjectList& stack = c.view()->children();
        for (QWidget* w : c.view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == popover || w->isWindow() || !w->isVisible()) continue;
            EXPECT_LT(stack.indexOf(w), stack.indexOf(popover)) << w->objectName().toStdString();
        }
        controller.reset();
    }
}

}  // namespace
