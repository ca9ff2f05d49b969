#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include "app/AppLog.h"
#include "app/lumaroViewController.h"
#include "panels/ColourView.h"
#include "panels/ProcessingView.h"
#include "panels/SettingsView.h"
#include "panels/VignetView.h"
#include "platform/Defaults.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"

namespace app {

namespace {

QRect frameIn(const QWidget* widget, const QWidget* view) {
    return QRect(widget->mapTo(view, QPoint(0, 0)), widget->size());
}

}  // namespace

bool lumaroViewController::isPopoverVisible() const {
    return popoverController_ && popoverController_->isPopoverVisible();
}

// Dismisses a visible popover and stops the poll; says whether it did.
bool lumaroViewController::closeOpenPanel() {
    if (!isPopoverVisible()) return false;
    popoverController_->dismiss();
    stopPanelPoll();
    state_.openPanel = 0;
    return true;
}

void lumaroViewController::presentPanel(QWidget* panel, QSize contentSize, const QRect& anchor) {
    auto* popover = new platform::Popover(panel, view_);
    // A closed panel popover is not shown again: each opening makes a new one.
    connect(popover, &platform::Popover::dismissed, popover, &QObject::deleteLater);
    popover->setContentSize(contentSize);
    popover->setPassthroughWidgets({Open, Save, Settings, Share, HelpB, color, vignetBut, moreBut});
    popoverController_ = popover;
    popover->presentFromRect(anchor);
}

void lumaroViewController::startPanelPoll() {
    stopPanelPoll();
    panelPollTimer_ = new QTimer(this);
    panelPollTimer_->setInterval(1000);
    connect(panelPollTimer_, &QTimer::timeout, this, &lumaroViewController::countDown2);
    panelPollTimer_->start();
}

void lumaroViewController::stopPanelPoll() {
    if (!panelPollTimer_) return;
    panelPollTimer_->stop();
    panelPollTimer_->deleteLater();
    panelPollTimer_ = nullptr;
}

void lumaroViewController::showColors() {
    if (color->selectedSegmentIndex() != 3) return;
    state_.toneType = 3;
    state_.openPanel = 1;
    if (closeOpenPanel()) return;
    auto* panel = new panels::ColourView;
    qCDebug(lcApp) << "Pt1";
    const QRect frame = frameIn(color, view_);
    presentPanel(panel, {300, 200},
                 QRect(frame.x() + 190, frame.y(), frame.width(), frame.height()));
    qCDebug(lcApp) << "Pt2";
    qCDebug(lcApp) << "Pt3";
    startPanelPoll();
    color->setSelectedSegmentIndex(3);
}

void lumaroViewController::showVignet() {
    qCDebug(lcApp) << "vignet opened";
    state_.openPanel = 2;
    if (closeOpenPanel()) return;
    auto* panel = new panels::VignetView;
    panel->setChoicesApply(state_.renderMode != 0);
    presentPanel(panel, {300, 100}, frameIn(vignetBut, view_));
    startPanelPoll();
}

void lumaroViewController::showProcessing() {
    qCDebug(lcApp) << "processing opened";
    state_.openPanel = 3;
    if (closeOpenPanel()) return;
    presentPanel(new panels::ProcessingView, {310, 300}, frameIn(moreBut, view_));
    startPanelPoll();
}

void lumaroViewController::showSettings() {
    qCDebug(lcApp) << "settings opened";
    state_.openPanel = 4;
    if (closeOpenPanel()) return;
    presentPanel(new panels::SettingsView(view_->devicePixelRatioF()), {300, 290},
                 frameIn(Settings, view_));
    startPanelPoll();
}

void lumaroViewController::countDown2() {
    if (!isPopoverVisible()) {
        stopPanelPoll();
        state_.openPanel = 0;
        qCDebug(lcApp) << "invalidate";
        return;
    }
    qCDebug(lcApp) << "timercounter=exec";
    auto& defaults = platform::Defaults::standard();
    if (defaults.integerForKey(QStringLiteral("activate")) != 1) {
        qCDebug(lcApp) << "activate=0";
        return;
    }
    qCDebug(lcApp) << "activate=1";
    auto integer = [&](const char* key) {
        return defaults.integerForKey(QString::fromLatin1(key));
    };
    switch (state_.openPanel) {
        case 1:
            qCDebug(lcApp) << "openwin=1";
            state_.tintR = integer("R");
            state_.tintG = integer("G");
            state_.tintB = integer("B");
            if (state_.tintR == 255 && state_.tintG == 255 && state_.tintB == 255) {
                state_.toneOn = 0;
                qCDebug(lcApp) << "colex=false";
            } else {
                state_.toneOn = 1;
                qCDebug(lcApp) << "colex=true";
            }
            state_.toneType = 3;
            break;
        case 2:
            qCDebug(lcApp) << "openwin=2";
            state_.vigRadius = integer("Rad");
            state_.vigType = integer("Type");
            state_.vigEffect = integer("Effect");
            state_.vigEnabled = integer("Enabled");
            state_.vigOn = state_.vigEnabled == 1;
            break;
        case 3:
            qCDebug(lcApp) << "openwin=3";
            state_.alphaValue = integer("Alpha");
            state_.exposureValue = integer("Exposure");
            state_.noiseValue = integer("Noise");
            state_.quantValue = integer("Quant");
            state_.inverseValue = integer("Inverse");
            state_.alphaOn = state_.alphaValue != 100;
            state_.exposureOn = state_.exposureValue != 100;
            state_.noiseOn = state_.noiseValue != 0;
            state_.quantOn = state_.quantValue != 1;
            state_.inverseOn = state_.inverseValue != 0;
            break;
        case 4:
            state_.outputSize = integer("Size");
            state_.ornamentsOn = defaults.boolForKey(QStringLiteral("Ornaments"));
            showOrnaments(state_.ornamentsOn != 0);
            break;
        default:
            // The share panel's requests are answered by the sharing client.
            break;
    }
    if (state_.openPanel <= 3) {
        renderer_.MonoCore();
        qCDebug(lcApp) << "openwin!=4";
    }
    defaults.setInteger(0, QStringLiteral("activate"));
    defaults.synchronize();
}

}  // namespace app
