#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <functional>
#include <memory>

#include "imaging/AdjustmentState.h"
#include "imaging/Picture.h"
#include "imaging/Renderer.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Popover.h"

class QLabel;
class QPushButton;
class QTimer;
class QUrl;
class QToolButton;
class QWidget;

namespace sharing {
class ShareClient;
}

namespace platform {
class Alert;
class FloatSlider;
class ImageView;
class PhotoPicker;
class SegmentedControl;
}  // namespace platform

namespace app {

// The main screen: owns the picked picture, the adjustment state, the
// renderer and every control. Its work is split by concern over
// ViewControllerStartup.cpp (loading, picking, ornaments),
// ViewControllerControls.cpp (control actions, presets, reset),
// ViewControllerPanels.cpp (panel popovers and their poll) and
// ViewControllerSaving.cpp (saving, alerts and links).
class lumaroViewController : public QObject {
    Q_OBJECT

public:
    explicit lumaroViewController(QObject* parent = nullptr);
    ~lumaroViewController() override;

    QWidget* view() const { return view_; }
    imaging::AdjustmentState& state() { return state_; }
    imaging::Renderer& renderer() { return renderer_; }
    const std::shared_ptr<const imaging::Picture>& pickerInfo() const {
        return renderer_.pickedPicture();
    }

    // Start-up and the main screen.
    void grabImage();
    void imagePickerControllerDidFinishPickingMediaWithInfo(
        std::shared_ptr<const imaging::Picture> picture);
    // Decodes a picture file off the GUI thread and takes it in; a file that
    // cannot be decoded is reported in an alert and changes nothing.
    void pickFile(const QString& path);
    // Opens a picture named from outside (command line, drop): a path or a file: URL.
    void openPicture(const QString& pathOrUrl);
    static bool shouldAutorotateToInterfaceOrientation(int orientation);

    // Control actions.
    void SwitchType();
    void SwitchFilter();
    void SwitchTone();
    void SwitchControls();
    void Slider1f();
    void Slider2f();
    void Slider1fR();
    void Slider2fR();
    void Slider1fG();
    void Slider2fG();
    void Slider1fB();
    void Slider2fB();
    void Apply();
    void Default();
    void Nul();
    void Min();
    void Max();
    void GrayImage();
    void SepiaImage();
    void AntiqueImage();
    void DeepCImage();
    void resetImage();
    void UndoImage();
    void MonoCore();

    // Panels and their poll.
    void showColors();
    void showVignet();
    void showProcessing();
    void showSettings();
    void showShare();
    void countDown2();
    // Starts the upload the share panel asked for.
    void upload();

    // Saving, alerts and links.
    void SaveImage();
    void alertViewClickedButtonAtIndex(int buttonIndex);
    void countDown();
    void PerformSave();
    void imageDidFinishSaving(const QString& path, const QString& error);
    void LumaroPhone();
    void Facebook();
    void Twitter();
    void Help();
    // How links are opened; a failure (false) shows the address in an alert.
    // The standard opener is the desktop's browser.
    using UrlOpener = std::function<bool(const QUrl&)>;
    void setUrlOpener(UrlOpener opener);

    // Timers and transient objects, for whoever watches the screen.
    QTimer* panelPollTimer() const { return panelPollTimer_; }
    QTimer* saveTimer() const { return saveTimer_; }
    platform::Popover* popoverController() const { return popoverController_; }
    platform::ActivityIndicator* saveIndicator() const { return saveIndicator_; }
    platform::PhotoPicker* imgPicker() const { return imgPicker_; }
    bool ratePromptOpen() const { return ratePromptOpen_; }
    bool isOpeningPicture() const { return openingGeneration_ != 0; }
    sharing::ShareClient* shareClient() const { return shareClient_; }
    // The eight sliders' positions as the controls hold them now.
    imaging::SliderValues sliderValues() const;
    // True while the untouched colour picture is shown for comparison.
    bool isComparing() const { return comparing_; }

    // Fields of the layout, by their names.
    QToolButton* Open;
    QToolButton* Save;
    QToolButton* Settings;
    QToolButton* Share;
    QToolButton* HelpB;
    platform::ImageView* image;
    platform::FloatSlider* slider1;
    platform::FloatSlider* slider2;
    QLabel* slider1t;
    QLabel* slider2t;
    QLabel* slid1;
    QLabel* slid2;
    platform::SegmentedControl* dfilter;
    QLabel* dfilterL;
    platform::SegmentedControl* color;
    QLabel* colorst;
    platform::SegmentedControl* controls;
    platform::SegmentedControl* type;
    platform::SegmentedControl* tone;
    platform::FloatSlider* sliderR;
    platform::FloatSlider* sliderG;
    platform::FloatSlider* sliderB;
    QLabel* sliderRl;
    QLabel* sliderGl;
    QLabel* sliderBl;
    QLabel* sliderRval;
    QLabel* sliderGval;
    QLabel* sliderBval;
    platform::FloatSlider* sliderR2;
    platform::FloatSlider* sliderG2;
    platform::FloatSlider* sliderB2;
    QLabel* sliderRl2;
    QLabel* sliderGl2;
    QLabel* sliderBl2;
    QLabel* sliderRval2;
    QLabel* sliderGval2;
    QLabel* sliderBval2;
    platform::SegmentedControl* resetBut;
    platform::SegmentedControl* vignetBut;
    platform::SegmentedControl* moreBut;
    QLabel* darkArea;
    QLabel* tape1;
    QLabel* tape2;
    QLabel* tape3;
    QLabel* tape4;
    QLabel* extape1;
    QLabel* extape2;
    QLabel* extape3;
    QLabel* extape4;
    QLabel* sbanner;
    QLabel* disp;
    QPushButton* PhoneAppB;
    QPushButton* FacebookB;
    QPushButton* TwitterB;
    QPushButton* applyButton;
    QPushButton* defaultButton;
    QPushButton* nulButton;
    QPushButton* minButton;
    QPushButton* maxButton;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void findFields();
    void connectActions();
    void viewDidLoad();
    void showRatePrompt();
    void showWorkingImage();
    void placeOrnaments();
    void placeOrnamentsAround(const QRectF& rect);
    void placeStartDecoration();
    void showOrnaments(bool on);
    void enterEditingState();
    void pickingFailed(const QString& path, const QString& error);
    void setUpDesktop();
    // Renders for the pixels per point of the screen the window is on; again
    // when the window moves to a screen with another ratio.
    void followScreenDensity();
    // The picture as the image view shows it: its pixels at the fit's pixels per point.
    QImage imageForScreen(const imaging::Bitmap& picture) const;
    bool handleDropEvent(QEvent* event);
    void handleHoldOnPicture(QEvent* event);
    void beginCompare();
    void endCompare();

    QList<QWidget*> globalSliders() const;
    QList<QWidget*> lightColourSliders() const;
    QList<QWidget*> darkColourSliders() const;

    bool isPopoverVisible() const;
    void presentPanel(QWidget* panel, QSize contentSize, const QRect& anchor);
    bool closeOpenPanel();
    void startPanelPoll();
    void stopPanelPoll();

    void showAlert(platform::Alert* alert);
    void openLink(const QUrl& url);

    imaging::AdjustmentState state_;
    imaging::Renderer renderer_;
    QWidget* view_;

    QPointer<platform::Popover> popoverController_;
    platform::Popover* pickerPopover_ = nullptr;
    platform::PhotoPicker* imgPicker_ = nullptr;
    platform::ActivityIndicator* openingIndicator_ = nullptr;
    int openingGeneration_ = 0;
    int lastOpening_ = 0;

    sharing::ShareClient* shareClient_ = nullptr;
    QTimer* panelPollTimer_ = nullptr;
    QTimer* saveTimer_ = nullptr;
    QPointer<platform::ActivityIndicator> saveIndicator_;
    bool ratePromptOpen_ = false;
    UrlOpener urlOpener_;
    QTimer* holdTimer_ = nullptr;
    bool comparing_ = false;
};

}  // namespace app
