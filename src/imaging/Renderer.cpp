#include "imaging/Renderer.h"

#include <algorithm>
#include <cmath>

#include "imaging/BandedPass.h"
#include "imaging/ChannelPass.h"
#include "imaging/Intake.h"
#include "imaging/RenderLog.h"
#include "imaging/RowPadding.h"
#include "imaging/VignetteFilter.h"

namespace imaging {
namespace {

// Clears the re-entry flag however the render ends, so one failed render
// (out of memory on a huge picture) cannot block every later one.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
};

}  // namespace

Renderer::Renderer(AdjustmentState& state) : state_(state) {}

void Renderer::setPickedPicture(std::shared_ptr<const Picture> picture) {
    picked_ = std::move(picture);
    fitted_ = Bitmap();
    fittedFrom_ = nullptr;
}

void Renderer::takeInPicture(std::shared_ptr<const Picture> picture) {
    setPickedPicture(std::move(picture));
    const QSize size = picked_ ? picked_->uprightSize() : QSize(0, 0);
    state_.origWidth = int(std::roundf(float(size.width())));
    state_.origHeight = int(std::roundf(float(size.height())));
    qCDebug(renderLog).noquote()
        << QStringLiteral("SizeOri:%1,%2").arg(size.width()).arg(size.height());
    // The provisional picture shown before the first render is the fitted one.
    UndoImage();
    MonoCore();
}

void Renderer::setSliderSource(std::function<SliderValues()> source) {
    sliderSource_ = std::move(source);
}

void Renderer::setWorkingImageChanged(std::function<void()> callback) {
    workingImageChanged_ = std::move(callback);
}

void Renderer::setWorkingImage(Bitmap image) {
    working_ = std::move(image);
    if (workingImageChanged_) workingImageChanged_();
}

void Renderer::setDevicePixelRatio(double ratio) {
    // A screen with fewer pixels than points still gets one pixel per point.
    devicePixelRatio_ = std::max(1.0, ratio);
}

const Bitmap& Renderer::fittedPicture() {
    qCDebug(renderLog) << "undo";
    const QSize size = picked_ ? picked_->uprightSize() : QSize(0, 0);
    const FitTarget target = fitTarget(size.width(), size.height(), state_.outputSize);
    if (*target.caseName) qCDebug(renderLog) << target.caseName;
    qCDebug(renderLog).noquote() << QString::number(target.height);
    qCDebug(renderLog).noquote() << QString::number(target.width);
    if (!picked_) {
        fitted_ = Bitmap();
        fittedFrom_ = nullptr;
    } else if (fittedFrom_ != picked_.get() || fittedSize_ != state_.outputSize ||
               fittedRatio_ != devicePixelRatio_ || fitted_.isNull()) {
        fitted_ = fitToOutputSize(*picked_, state_.outputSize, devicePixelRatio_);
        fittedFrom_ = picked_.get();
        fittedSize_ = state_.outputSize;
        fittedRatio_ = devicePixelRatio_;
    }
    // The fit hands the orientation normaliser an upright picture.
    qCDebug(renderLog) << "image orientation up";
    // The size in points is the fit at one pixel per point, whatever the screen.
    const QSize points = fitted_.isNull() ? QSize(0, 0) : fitPixels(target);
    state_.imageWidth = points.width();
    state_.imageHeight = points.height();
    const double longPixels = std::max(fitted_.width(), fitted_.height());
    const double longPoints = std::max(target.width, target.height);
    pixelsPerPoint_ = longPoints > 0 && longPixels > 0 ? longPixels / longPoints : 1.0;
    qCDebug(renderLog) << "undo";
    return fitted_;
}

int Renderer::noiseGrain() const {
    // Saved and uploaded pictures have no screen: their noise is per pixel.
    return exportMode_ ? 1 : std::max(1, int(std::lround(pixelsPerPoint_)));
}

void Renderer::UndoImage() { setWorkingImage(fittedPicture().clone()); }

Bitmap Renderer::renderInput() {
    if (exportMode_) return std::move(exportImage_);
    // The refreshed working image is replaced by the render's result at once,
    // so the render works on its own copy of the fit and shows only the result.
    return fittedPicture().clone();
}

void Renderer::storeOutput(Bitmap output) {
    if (exportMode_) {
        exportImage_ = std::move(output);
    } else {
        setWorkingImage(std::move(output));
    }
}

void Renderer::MonoCore() {
    qCDebug(renderLog) << "monocore";
    if (!renderBusy_) {
        BusyScope busy(renderBusy_);
        if (state_.renderMode != 0) {
            Mono_Core();
        } else {
            const SliderValues sliders = sliderSource_ ? sliderSource_() : SliderValues{};
            Bitmap buffer = renderInput();
            if (!buffer.isNull()) {
                channelPass(buffer, state_, sliders, random_.next64(), noiseGrain());
                if (state_.vigOn == 1 && state_.vigEnabled == 1) {
                    vignetteFilter(buffer, int(state_.vigRadius * 0.5));
                }
                storeOutput(std::move(buffer));
            }
        }
    }
    qCDebug(renderLog) << "monocore";
}

void Renderer::Mono_Core() {
    const SliderValues sliders = sliderSource_ ? sliderSource_() : SliderValues{};
    Bitmap buffer = renderInput();
    if (buffer.isNull()) return;
    const int padding =
        state_.vigOn == 1 && !exportMode_
            ? rowPadding(state_.outputSize, float(buffer.width()), float(buffer.height()))
            : 0;
    bandedPass(buffer, padding, state_, sliders, random_.next64(), noiseGrain());
    storeOutput(std::move(buffer));
}

void Renderer::renderSelected() {
    if (state_.renderMode != 0) {
        Mono_Core();
    } else {
        MonoCore();
    }
}

void Renderer::GrayImage(int colorIndex) {
    if (colorIndex != 0) return;
    state_.toneType = 0;
    renderSelected();
}

void Renderer::SepiaImage(int colorIndex) {
    if (colorIndex != 1) return;
    state_.toneOn = 1;
    state_.toneType = 1;
    renderSelected();
}

void Renderer::AntiqueImage(int colorIndex) {
    if (colorIndex != 2) return;
    state_.toneOn = 1;
    state_.toneType = 2;
    renderSelected();
}

void Renderer::DeepCImage() { renderSelected(); }

Bitmap Renderer::fullResolutionRender(Bitmap upright) {
    exportImage_ = std::move(upright);
    exportMode_ = true;
    MonoCore();
    exportMode_ = false;
    return takeExportImage();
}

}  // namespace imaging
