#pragma once

#include <functional>
#include <memory>

#include "imaging/AdjustmentState.h"
#include "imaging/Bitmap.h"
#include "imaging/Picture.h"
#include "imaging/RandomSource.h"
#include "imaging/SliderValues.h"

namespace imaging {

// The render side of the main screen: owns the working image, the export
// slot, the export flag and the re-entry guard, reads the adjustment state
// (owned by the caller, which must outlive the renderer) and the sliders.
// Main thread only; every call is synchronous.
class Renderer {
public:
    explicit Renderer(AdjustmentState& state);

    AdjustmentState& state() { return state_; }

    // The picked picture every working image is derived from (nothing before a pick).
    void setPickedPicture(std::shared_ptr<const Picture> picture);
    const std::shared_ptr<const Picture>& pickedPicture() const { return picked_; }

    // Intake of a pick: stores the picture, sets origWidth/origHeight, shows
    // it fitted and renders it once. Placing ornaments and showing controls
    // is the screen's part.
    void takeInPicture(std::shared_ptr<const Picture> picture);

    // Where a render reads the sliders from; called once at the start of each
    // render. Without a source all sliders read 0.
    void setSliderSource(std::function<SliderValues()> source);

    // Called after the working image was replaced (fit, render or setWorkingImage).
    void setWorkingImageChanged(std::function<void()> callback);

    const Bitmap& workingImage() const { return working_; }
    void setWorkingImage(Bitmap image);

    // Pixels per point of the screen that shows the working image. The fit
    // then draws the picture with that many pixels per point (never more
    // than the picture has), imageWidth/imageHeight stay its size in points,
    // and on-screen noise keeps its grain size in points. Export renders are
    // not affected. 1 by default.
    void setDevicePixelRatio(double ratio);
    double devicePixelRatio() const { return devicePixelRatio_; }
    // Pixels of the current fit per point on screen: the ratio above for a
    // picture with pixels enough, less for a smaller one, 1 for one that
    // already fits the output size.
    double pixelsPerPoint() const { return pixelsPerPoint_; }

    // Fit to output size (undo): the working image becomes the picked picture
    // scaled so that its longer side is at most outputSize, never enlarged,
    // in colour. Sets imageWidth/imageHeight.
    void UndoImage();

    // Render entry: guarded against re-entry by renderBusy; hands over to
    // Mono_Core when renderMode is not 0, else runs the channel renderer and
    // the vignette filter. Reads exportImage and writes it back in export
    // mode, else re-fits and replaces the working image.
    void MonoCore();
    // Banded renderer; no re-entry guard of its own.
    void Mono_Core();

    // Tone presets of the tone control; colorIndex is its selected segment.
    // Each acts only on its own segment, then renders.
    void GrayImage(int colorIndex);
    void SepiaImage(int colorIndex);
    void AntiqueImage(int colorIndex);
    // Renders whatever the segment.
    void DeepCImage();
    // Renders with Mono_Core when the banded renderer is selected, else MonoCore.
    void renderSelected();

    bool renderBusy() const { return renderBusy_; }

    // Export slot and flag. The export contract: put an upright copy in the
    // slot, set export mode, call MonoCore, clear export mode, take the image.
    void setExportImage(Bitmap image) { exportImage_ = std::move(image); }
    Bitmap takeExportImage() { return std::move(exportImage_); }
    const Bitmap& exportImage() const { return exportImage_; }
    void setExportMode(bool on) { exportMode_ = on; }
    bool exportMode() const { return exportMode_; }
    // The whole contract in one call: renders upright in export mode and returns it.
    Bitmap fullResolutionRender(Bitmap upright);

    // Seeds the noise; by default it is seeded from the operating system.
    void setRandomSeed(std::uint64_t seed) { random_ = RandomSource(seed); }

private:
    const Bitmap& fittedPicture();
    int noiseGrain() const;
    Bitmap renderInput();
    void storeOutput(Bitmap output);

    AdjustmentState& state_;
    std::shared_ptr<const Picture> picked_;
    std::function<SliderValues()> sliderSource_;
    std::function<void()> workingImageChanged_;
    Bitmap working_;
    Bitmap exportImage_;
    bool exportMode_ = false;
    bool renderBusy_ = false;
    RandomSource random_;

    // The fit of the picked picture at one output size, kept because every
    // render starts from it and it gives the same pixels each time.
    Bitmap fitted_;
    const Picture* fittedFrom_ = nullptr;
    int fittedSize_ = 0;
    double fittedRatio_ = 1.0;

    double devicePixelRatio_ = 1.0;
    double pixelsPerPoint_ = 1.0;
};

}  // namespace imaging
