#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "app/AppLog.h"
#include "app/ProductSharing.h"
#include "app/lumaroViewController.h"
#include "imaging/BitmapImage.h"
#include "imaging/PanelSettings.h"
#include "imaging/ResetDefaults.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/ImageView.h"
#include "platform/widgets/PhotoPicker.h"
#include "platform/widgets/Popover.h"
#include "platform/widgets/SegmentedControl.h"
#include "sharing/ShareClient.h"
#include "ui/LayoutLoader.h"

namespace app {

namespace {

constexpr int ornamentSize = 80;
constexpr int pickerWidth = 320;
constexpr int pickerHeight = 480;

// Gives a read-out the width of the widest text its slider can show (sign,
// integer digits, two decimals), so the tracks keep their length and the
// handles their place whatever the text.
void fixReadoutWidth(QLabel* label, const platform::FloatSlider* slider) {
    label->ensurePolished();
    const QFontMetrics metrics = label->fontMetrics();
    int digit = 0;
    for (char c = '0'; c <= '9'; ++c) digit = std::max(digit, metrics.horizontalAdvance(QChar(c)));
    const double largest = std::max(std::abs(slider->minimumValue()), slider->maximumValue());
    const int integerDigits = static_cast<int>(QString::number(static_cast<int>(largest)).size());
    int width = (integerDigits + 2) * digit + metrics.horizontalAdvance(QLatin1Char('.'));
    if (slider->minimumValue() < 0) width += metrics.horizontalAdvance(QLatin1Char('-'));
    const QMargins margins = label->contentsMargins();
    label->setFixedWidth(width + margins.left() + margins.right() + 2 * label->margin() + 2);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

}  // namespace

lumaroViewController::lumaroViewController(QObject* parent)
    : QObject(parent), renderer_(state_), view_(ui::loadLayout(QStringLiteral("main"))) {
    findFields();
    connectActions();
    renderer_.setSliderSource([this] { return sliderValues(); });
    renderer_.setWorkingImageChanged([this] { showWorkingImage(); });
    // Hidden controls keep their place, so switching slider pages never
    // makes the rest of the screen jump.
    for (QWidget* child : darkArea->findChildren<QWidget*>()) {
        QSizePolicy policy = child->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        child->setSizePolicy(policy);
    }
    const std::pair<QLabel*, platform::FloatSlider*> readouts[] = {
        {slid1, slider1},        {slid2, slider2},       {sliderRval, sliderR},
        {sliderGval, sliderG},   {sliderBval, sliderB},  {sliderRval2, sliderR2},
        {sliderGval2, sliderG2}, {sliderBval2, sliderB2}};
    for (const auto& [label, slider] : readouts) fixReadoutWidth(label, slider);
    view_->installEventFilter(this);
    image->installEventFilter(this);
    disp->installEventFilter(this);
    setUpDesktop();
    viewDidLoad();
}

lumaroViewController::~lumaroViewController() { delete view_; }

imaging::SliderValues lumaroViewController::sliderValues() const {
    return {slider1->floatValue(),  slider2->floatValue(), sliderR->floatValue(),
            sliderG->floatValue(),  sliderB->floatValue(), sliderR2->floatValue(),
            sliderG2->floatValue(), sliderB2->floatValue()};
}

void lumaroViewController::findFields() {
    using platform::FloatSlider;
    using platform::SegmentedControl;
    const QWidget* v = view_;
    Open = ui::field<QToolButton>(v, "Open");
    Save = ui::field<QToolButton>(v, "Save");
    Settings = ui::field<QToolButton>(v, "Settings");
    Share = ui::field<QToolButton>(v, "Share");
    HelpB = ui::field<QToolButton>(v, "Help");
    image = ui::field<platform::ImageView>(v, "image");
    slider1 = ui::field<FloatSlider>(v, "slider1");
    slider2 = ui::field<FloatSlider>(v, "slider2");
    slider1t = ui::field<QLabel>(v, "slider1t");
    slider2t = ui::field<QLabel>(v, "slider2t");
    slid1 = ui::field<QLabel>(v, "slid1");
    slid2 = ui::field<QLabel>(v, "slid2");
    dfilter = ui::field<SegmentedControl>(v, "dfilter");
    dfilterL = ui::field<QLabel>(v, "dfilterL");
    color = ui::field<SegmentedControl>(v, "color");
    colorst = ui::field<QLabel>(v, "colorst");
    controls = ui::field<SegmentedControl>(v, "controls");
    type = ui::field<SegmentedControl>(v, "type");
    tone = ui::field<SegmentedControl>(v, "tone");
    sliderR = ui::field<FloatSlider>(v, "sliderR");
    sliderG = ui::field<FloatSlider>(v, "sliderG");
    sliderB = ui::field<FloatSlider>(v, "sliderB");
    sliderRl = ui::field<QLabel>(v, "sliderRl");
    sliderGl = ui::field<QLabel>(v, "sliderGl");
    sliderBl = ui::field<QLabel>(v, "sliderBl");
    sliderRval = ui::field<QLabel>(v, "sliderRval");
    sliderGval = ui::field<QLabel>(v, "sliderGval");
    sliderBval = ui::field<QLabel>(v, "sliderBval");
    sliderR2 = ui::field<FloatSlider>(v, "sliderR2");
    sliderG2 = ui::field<FloatSlider>(v, "sliderG2");
    sliderB2 = ui::field<FloatSlider>(v, "sliderB2");
    sliderRl2 = ui::field<QLabel>(v, "sliderRl2");
    sliderGl2 = ui::field<QLabel>(v, "sliderGl2");
    sliderBl2 = ui::field<QLabel>(v, "sliderBl2");
    sliderRval2 = ui::field<QLabel>(v, "sliderRval2");
    sliderGval2 = ui::field<QLabel>(v, "sliderGval2");
    sliderBval2 = ui::field<QLabel>(v, "sliderBval2");
    resetBut = ui::field<SegmentedControl>(v, "resetBut");
    vignetBut = ui::field<SegmentedControl>(v, "vignetBut");
    moreBut = ui::field<SegmentedControl>(v, "moreBut");
    darkArea = ui::field<QLabel>(v, "darkArea");
    tape1 = ui::field<QLabel>(v, "tape1");
    tape2 = ui::field<QLabel>(v, "tape2");
    tape3 = ui::field<QLabel>(v, "tape3");
    tape4 = ui::field<QLabel>(v, "tape4");
    extape1 = ui::field<QLabel>(v, "extape1");
    extape2 = ui::field<QLabel>(v, "extape2");
    extape3 = ui::field<QLabel>(v, "extape3");
    extape4 = ui::field<QLabel>(v, "extape4");
    sbanner = ui::field<QLabel>(v, "sbanner");
    disp = ui::field<QLabel>(v, "disp");
    PhoneAppB = ui::field<QPushButton>(v, "PhoneAppB");
    FacebookB = ui::field<QPushButton>(v, "FacebookB");
    TwitterB = ui::field<QPushButton>(v, "TwitterB");
    applyButton = ui::field<QPushButton>(v, "applyButton");
    defaultButton = ui::field<QPushButton>(v, "defaultButton");
    nulButton = ui::field<QPushButton>(v, "nulButton");
    minButton = ui::field<QPushButton>(v, "minButton");
    maxButton = ui::field<QPushButton>(v, "maxButton");
}

void lumaroViewController::connectActions() {
    using platform::FloatSlider;
    using platform::SegmentedControl;
    using C = lumaroViewController;
    connect(Open, &QToolButton::clicked, this, &C::grabImage);
    connect(Save, &QToolButton::clicked, this, &C::SaveImage);
    connect(Settings, &QToolButton::clicked, this, &C::showSettings);
    connect(Share, &QToolButton::clicked, this, &C::showShare);
    connect(HelpB, &QToolButton::clicked, this, &C::Help);
    connect(type, &SegmentedControl::valueChanged, this, &C::SwitchType);
    connect(dfilter, &SegmentedControl::valueChanged, this, &C::SwitchFilter);
    connect(tone, &SegmentedControl::valueChanged, this, &C::SwitchTone);
    connect(controls, &SegmentedControl::valueChanged, this, &C::SwitchControls);
    // A change of the tone control runs all four; each acts on its own segment only.
    connect(color, &SegmentedControl::valueChanged, this, &C::GrayImage);
    connect(color, &SegmentedControl::valueChanged, this, &C::SepiaImage);
    connect(color, &SegmentedControl::valueChanged, this, &C::AntiqueImage);
    connect(color, &SegmentedControl::valueChanged, this, &C::showColors);
    // Tapping Custom again asks for its panel again.
    connect(color, &SegmentedControl::selectedSegmentTappedAgain, this, [this](int index) {
        if (index == 3) showColors();
    });
    connect(resetBut, &SegmentedControl::valueChanged, this, &C::resetImage);
    connect(vignetBut, &SegmentedControl::valueChanged, this, &C::showVignet);
    connect(moreBut, &SegmentedControl::valueChanged, this, &C::showProcessing);
    connect(slider1, &FloatSlider::valueDragging, this, &C::Slider1f);
    connect(slider2, &FloatSlider::valueDragging, this, &C::Slider2f);
    connect(sliderR, &FloatSlider::valueDragging, this, &C::Slider1fR);
    connect(sliderR2, &FloatSlider::valueDragging, this, &C::Slider2fR);
    connect(sliderG, &FloatSlider::valueDragging, this, &C::Slider1fG);
    connect(sliderG2, &FloatSlider::valueDragging, this, &C::Slider2fG);
    connect(sliderB, &FloatSlider::valueDragging, this, &C::Slider1fB);
    connect(sliderB2, &FloatSlider::valueDragging, this, &C::Slider2fB);
    connect(applyButton, &QPushButton::clicked, this, &C::Apply);
    connect(defaultButton, &QPushButton::clicked, this, &C::Default);
    connect(nulButton, &QPushButton::clicked, this, &C::Nul);
    connect(minButton, &QPushButton::clicked, this, &C::Min);
    connect(maxButton, &QPushButton::clicked, this, &C::Max);
    connect(PhoneAppB, &QPushButton::clicked, this, &C::LumaroPhone);
    connect(FacebookB, &QPushButton::clicked, this, &C::Facebook);
    connect(TwitterB, &QPushButton::clicked, this, &C::Twitter);
}

void lumaroViewController::viewDidLoad() {
    // The sharing client brings the upload and registration queues.
    shareClient_ = new sharing::ShareClient(productShareEndpoints(), this);
    auto& defaults = platform::Defaults::standard();
    // Every start begins with the panel adjustments at their defaults.
    imaging::resetDefaults(defaults);

    if (defaults.integerForKey(imaging::keys::Size) < 450)
        defaults.setInteger(650, imaging::keys::Size);
    state_.outputSize = defaults.integerForKey(imaging::keys::Size);

    if (!defaults.boolForKey(QStringLiteral("PreOrnaments"))) {
        defaults.setBool(true, QStringLiteral("PreOrnaments"));
        defaults.setBool(true, imaging::keys::Ornaments);
        qCDebug(lcApp) << "Ornaments set";
    }
    state_.ornamentsOn =
        static_cast<std::uint8_t>(defaults.integerForKey(imaging::keys::Ornaments) & 0xff);
    showOrnaments(state_.ornamentsOn != 0);

    const int starts = defaults.integerForKey(QStringLiteral("oco"));
    if (starts == 0) {
        defaults.setInteger(1, QStringLiteral("oco"));
        qCDebug(lcApp) << "oconr=1";
    } else {
        if (starts == 15) showRatePrompt();
        defaults.setInteger(starts + 1, QStringLiteral("oco"));
    }
    defaults.synchronize();

    imgPicker_ = new platform::PhotoPicker;
    pickerPopover_ = new platform::Popover(imgPicker_, view_);
    pickerPopover_->setContentSize({pickerWidth, pickerHeight});
    pickerPopover_->setPassthroughWidgets({Open, Save, Settings, Share, HelpB});
    connect(imgPicker_, &platform::PhotoPicker::picked, this, &lumaroViewController::pickFile);

    openingIndicator_ =
        new platform::ActivityIndicator(platform::ActivityIndicator::Style::whiteLarge, view_);
    qCDebug(lcApp) << "viewload";
}

void lumaroViewController::showRatePrompt() {
    ratePromptOpen_ = true;
    auto* alert = new platform::Alert(
        QStringLiteral("Rate Lumaro HD"),
        QStringLiteral("You've been using Lumaro HD a lot, so you must like it. Could you please "
                       "give us your rating and remarks? \n\nThank you in advance! \n\n(This "
                       "message will never be shown again)"),
        QStringLiteral("Cancel"), {QStringLiteral("Rate Lumaro")}, view_);
    // Shown once the event loop runs, over the window that holds the view by then.
    QTimer::singleShot(0, alert, [this, alert] { showAlert(alert); });
}

void lumaroViewController::grabImage() {
    if (isPopoverVisible()) {
        popoverController_->dismiss();
        return;
    }
    popoverController_ = pickerPopover_;
    pickerPopover_->presentFromWidget(Open);
}

bool lumaroViewController::shouldAutorotateToInterfaceOrientation(int orientation) {
    // Portrait and portrait upside down only; unknown values are allowed.
    return orientation != 3 && orientation != 4;
}

void lumaroViewController::pickFile(const QString& path) {
    pickerPopover_->dismiss();
    // The picture is decoded off the GUI thread; only the latest pick counts.
    const int generation = ++lastOpening_;
    openingGeneration_ = generation;
    openingIndicator_->move(view_->rect().center() - openingIndicator_->rect().center());
    openingIndicator_->startAnimating();
    QPointer<lumaroViewController> self(this);
    QThreadPool::globalInstance()->start([self, generation, path] {
        QString error;
        auto picture = imaging::Picture::fromFile(path, &error);
        auto shared = picture ? std::make_shared<const imaging::Picture>(std::move(*picture))
                              : std::shared_ptr<const imaging::Picture>();
        platform::runOnMainThread([self, generation, path, shared, error] {
            if (!self || self->openingGeneration_ != generation) return;
            self->openingGeneration_ = 0;
            self->openingIndicator_->stopAnimating();
            if (shared)
                self->imagePickerControllerDidFinishPickingMediaWithInfo(shared);
            else
                self->pickingFailed(path, error);
        });
    });
}

void lumaroViewController::pickingFailed(const QString& path, const QString& error) {
    // The decoder's line names the whole path; the alert names the file and gives the reason.
    const QString prefix = QStringLiteral("cannot read %1: ").arg(path);
    const QString reason = error.startsWith(prefix) ? error.mid(prefix.size()) : error;
    auto* alert = new platform::Alert(QStringLiteral("Cannot Open Picture"),
                                      QStringLiteral("“%1” could not be read as a picture: %2.")
                                          .arg(QFileInfo(path).fileName(), reason),
                                      QStringLiteral("OK"), {}, view_);
    alert->showAlert();
}

void lumaroViewController::imagePickerControllerDidFinishPickingMediaWithInfo(
    std::shared_ptr<const imaging::Picture> picture) {
    disp->hide();
    pickerPopover_->dismiss();
    renderer_.takeInPicture(std::move(picture));
    placeOrnaments();
    enterEditingState();
    qCDebug(lcApp) << "imagepicker";
    state_.outputSize = platform::Defaults::standard().integerForKey(imaging::keys::Size);
}

void lumaroViewController::enterEditingState() {
    for (QWidget* w : {extape1, extape2, extape3, extape4, sbanner}) w->hide();
    showOrnaments(state_.ornamentsOn != 0);
    for (QPushButton* link : {PhoneAppB, FacebookB, TwitterB}) {
        link->hide();
        link->setEnabled(false);
    }
    for (QWidget* w : {static_cast<QWidget*>(color), static_cast<QWidget*>(colorst),
                       static_cast<QWidget*>(darkArea), static_cast<QWidget*>(resetBut),
                       static_cast<QWidget*>(vignetBut), static_cast<QWidget*>(moreBut),
                       static_cast<QWidget*>(controls)})
        w->show();
    Save->setEnabled(true);
    Share->setEnabled(true);
    for (QWidget* w : globalSliders()) w->show();
    dfilterL->show();
    dfilter->show();
}

void lumaroViewController::showWorkingImage() {
    image->setImage(imageForScreen(renderer_.workingImage()));
    placeOrnaments();
}

void lumaroViewController::showOrnaments(bool on) {
    for (QLabel* tape : {tape1, tape2, tape3, tape4}) {
        tape->setVisible(on);
        if (on) tape->raise();
    }
}

void lumaroViewController::placeOrnaments() {
    if (!pickerInfo()) {
        // Before the first picture the tape holds the banner.
        placeOrnamentsAround(QRectF(sbanner->mapTo(view_, QPoint(0, 0)), sbanner->size()));
        return;
    }
    // Centred on the corners of the picture as it is displayed centred in the
    // image view; a picture larger than the view is drawn scaled to fit.
    const QRectF frame(image->mapTo(view_, QPoint(0, 0)), image->size());
    const qreal cx = frame.x() + frame.width() * 0.5;
    const qreal cy = frame.y() + frame.height() * 0.5;
    const qreal scale = image->fitScale();
    const qreal hw = (state_.imageWidth / 2) * scale;
    const qreal hh = (state_.imageHeight / 2) * scale;
    qCDebug(lcApp).noquote() << QStringLiteral("A:%1").arg(state_.imageWidth);
    qCDebug(lcApp).noquote() << QStringLiteral("B:%1").arg(state_.imageHeight);
    qCDebug(lcApp).noquote() << QStringLiteral("C:%1").arg(image->width());
    qCDebug(lcApp).noquote() << QStringLiteral("D:%1").arg(image->height());
    placeOrnamentsAround(QRectF(cx - hw, cy - hh, 2 * hw, 2 * hh));
}

void lumaroViewController::placeOrnamentsAround(const QRectF& rect) {
    // Centred on the corners, but never over the toolbar or the control area:
    // a piece that would cross the picture area's edge is pushed inside it.
    const QWidget* stage = image->parentWidget();
    const QRect bounds(stage->mapTo(view_, QPoint(0, 0)), stage->size());
    const qreal half = ornamentSize / 2.0;
    auto place = [&](QLabel* tape, qreal x, qreal y) {
        QRect piece = QRectF(x - half, y - half, ornamentSize, ornamentSize).toRect();
        piece.moveLeft(std::clamp(piece.left(), bounds.left(),
                                  std::max(bounds.left(), bounds.right() + 1 - piece.width())));
        piece.moveTop(std::clamp(piece.top(), bounds.top(),
                                 std::max(bounds.top(), bounds.bottom() + 1 - piece.height())));
        tape->setGeometry(piece);
    };
    place(tape1, rect.left(), rect.top());
    place(tape2, rect.right(), rect.top());
    place(tape3, rect.left(), rect.bottom());
    place(tape4, rect.right(), rect.bottom());
}

void lumaroViewController::placeStartDecoration() {
    // The pieces hold the card's corners; a fifth of its width keeps them
    // clear of its caption, and the card's margins keep them inside it.
    const QRect card = disp->geometry();
    const int side = card.width() / 5;
    auto place = [&](QLabel* tape, QPoint corner) {
        tape->setGeometry(QRect(corner - QPoint(side / 2, side / 2), QSize(side, side)));
        tape->raise();
    };
    place(extape1, card.topLeft());
    place(extape2, card.topRight() + QPoint(1, 0));
    place(extape3, card.bottomLeft() + QPoint(0, 1));
    place(extape4, card.bottomRight() + QPoint(1, 1));
}

bool lumaroViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && handleDropEvent(event)) return true;
    // Before its window is shown a view only knows the densest screen of all.
    const bool screenKnown =
        event->type() == QEvent::Show || event->type() == QEvent::ScreenChangeInternal;
    if (watched == view_ && screenKnown) followScreenDensity();
    if (watched == image) handleHoldOnPicture(event);
    // The layout moves the picture when the window or the control area
    // changes size; the tape follows it.
    const bool moved = event->type() == QEvent::Resize || event->type() == QEvent::Move ||
                       event->type() == QEvent::Show;
    if ((watched == view_ || watched == image) && moved)
        QTimer::singleShot(0, this, [this] { placeOrnaments(); });
    if (watched == disp && moved) placeStartDecoration();
    return QObject::eventFilter(watched, event);
}

QList<QWidget*> lumaroViewController::globalSliders() const {
    return {slider1, slider1t, slid1, slider2, slider2t, slid2};
}

QList<QWidget*> lumaroViewController::lightColourSliders() const {
    return {sliderR,  sliderG,    sliderB,    sliderRl,  sliderGl,
            sliderBl, sliderRval, sliderGval, sliderBval};
}

QList<QWidget*> lumaroViewController::darkColourSliders() const {
    return {sliderR2,  sliderG2,    sliderB2,    sliderRl2,  sliderGl2,
            sliderBl2, sliderRval2, sliderGval2, sliderBval2};
}

void lumaroViewController::showAlert(platform::Alert* alert) {
    connect(alert, &platform::Alert::clickedButtonAtIndex, this,
            &lumaroViewController::alertViewClickedButtonAtIndex);
    alert->showAlert();
}

}  // namespace app
