#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include "app/AppLog.h"
#include "app/lumaroViewController.h"
#include "imaging/PanelSettings.h"
#include "panels/ColourView.h"
#include "panels/ProcessingView.h"
#include "panels/SettingsView.h"
#include "panels/ShareView.h"
#include "panels/VignetView.h"
#include "platform/Defaults.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "sharing/ShareClient.h"
#include "sharing/ShareKeys.h"

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

void lumaroViewController::showShare() {
    qCDebug(lcApp) << "share opened";
    state_.openPanel = 5;
    if (closeOpenPanel()) return;
    presentPanel(new panels::ShareView, {410, 350}, frameIn(Share, view_));
    startPanelPoll();
}

void lumaroViewController::upload() {
    shareClient_->upload(renderer_, sliderValues(), color->selectedSegmentIndex());
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
    if (defaults.integerForKey(imaging::keys::activate) != 1) {
        qCDebug(lcApp) << "activate=0";
        return;
    }
    qCDebug(lcApp) << "activate=1";
    for (const imaging::PanelSetting& setting : imaging::kPanelSettings) {
        if (setting.panel == state_.openPanel) {
            state_.*setting.field = defaults.integerForKey(*setting.key);
        }
    }
    imaging::settleStepSwitches(state_, state_.openPanel);
    switch (state_.openPanel) {
        case 1:
            qCDebug(lcApp) << "openwin=1";
            qCDebug(lcApp) << (state_.toneOn ? "colex=true" : "colex=false");
            state_.toneType = 3;
            break;
        case 2:
            qCDebug(lcApp) << "openwin=2";
            state_.vigOn = state_.vigEnabled == 1;
            break;
        case 3:
            qCDebug(lcApp) << "openwin=3";
            break;
        case 4:
            state_.ornamentsOn = defaults.boolForKey(imaging::keys::Ornaments);
            showOrnaments(state_.ornamentsOn != 0);
            break;
        case 5:
            if (defaults.integerForKey(sharing::keys::Share) == 1) {
                qCDebug(lcApp) << "Init Uploading/Resetting share param";
                defaults.setInteger(0, sharing::keys::Share);
                defaults.synchronize();
                upload();
            }
            break;
        default:
            break;
    }
    if (state_.openPanel <= 3) {
        renderer_.MonoCore();
        qCDebug(lcApp) << "openwin!=4";
    }
    defaults.setInteger(0, imaging::keys::activate);
    defaults.synchronize();
}

}  // namespace app
