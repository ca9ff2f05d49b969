#include <QDesktopServices>
#include <QTimer>
#include <QWidget>

#include "app/AppLog.h"
#include "app/ProductLinks.h"
#include "app/lumaroViewController.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "platform/PhotoLibrary.h"
#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/Alert.h"

namespace app {

void lumaroViewController::SaveImage() {
    qCDebug(lcApp) << "save";
    // An earlier indicator stays in the view, stopped and hidden.
    if (saveIndicator_) saveIndicator_->stopAnimating();
    saveIndicator_ =
        new platform::ActivityIndicator(platform::ActivityIndicator::Style::whiteLarge, view_);
    saveIndicator_->move(view_->rect().center() - saveIndicator_->rect().center());
    auto* alert = new platform::Alert(
        QStringLiteral("Confirm"),
        QStringLiteral("Your image will be saved to the library, this may take a few seconds. "
                       "Do you want to save your image?"),
        QStringLiteral("Don't Save"), {QStringLiteral("Save")}, view_);
    saveIndicator_->startAnimating();
    showAlert(alert);
}

void lumaroViewController::alertViewClickedButtonAtIndex(int buttonIndex) {
    if (ratePromptOpen_) {
        ratePromptOpen_ = false;
        if (buttonIndex != 0) openLink(ProductLinks::standard().store);
        return;
    }
    if (buttonIndex == 1) {
        // A save already waiting to start covers this one too.
        if (saveTimer_) return;
        saveTimer_ = new QTimer(this);
        saveTimer_->setInterval(1000);
        connect(saveTimer_, &QTimer::timeout, this, &lumaroViewController::countDown);
        saveTimer_->start();
    } else if (saveIndicator_) {
        saveIndicator_->stopAnimating();
    }
}

void lumaroViewController::countDown() {
    saveTimer_->stop();
    saveTimer_->deleteLater();
    saveTimer_ = nullptr;
    PerformSave();
}

void lumaroViewController::PerformSave() {
    qCDebug(lcApp) << "performSave";
    const auto& picture = pickerInfo();
    if (picture) {
        imaging::Bitmap rendered =
            renderer_.fullResolutionRender(imaging::uprightPicture(*picture));
        // Encoding and writing happen off the GUI thread; the completion comes back here.
        QPointer<lumaroViewController> self(this);
        platform::PhotoLibrary::writeToSavedPhotosAlbum(
            imaging::imageFromBitmap(std::move(rendered)),
            [self](const QString& path, const QString& error) {
                if (self) self->imageDidFinishSaving(path, error);
            },
            picture->metadata);
    }
    qCDebug(lcApp) << "performSave";
}

void lumaroViewController::imageDidFinishSaving(const QString& path, const QString& error) {
    // A write that failed is reported as such, so nobody relies on a copy
    // that is not there.
    auto* alert =
        path.isEmpty()
            ? new platform::Alert(
                  QStringLiteral("Not Saved"),
                  QStringLiteral("Your image could not be saved to the library: %1").arg(error),
                  QStringLiteral("OK"), {}, view_)
            : new platform::Alert(QStringLiteral("Saved"),
                                  QStringLiteral("Your image has been saved to the library."),
                                  QStringLiteral("OK"), {}, view_);
    alert->showAlert();
    if (saveIndicator_) saveIndicator_->stopAnimating();
}

void lumaroViewController::setUrlOpener(UrlOpener opener) { urlOpener_ = std::move(opener); }

void lumaroViewController::openLink(const QUrl& url) {
    if (urlOpener_ ? urlOpener_(url) : QDesktopServices::openUrl(url)) return;
    // Without a browser the address is the next best thing: the user can copy it.
    qCDebug(lcApp).noquote() << QStringLiteral("cannot open %1").arg(url.toString());
    auto* alert = new platform::Alert(
        QStringLiteral("Cannot Open Link"),
        QStringLiteral("No web browser could open this address. You can copy it from here:\n\n%1")
            .arg(url.toString()),
        QStringLiteral("OK"), {}, view_);
    alert->showAlert();
}

void lumaroViewController::LumaroPhone() { openLink(ProductLinks::standard().phoneStore); }

void lumaroViewController::Facebook() { openLink(ProductLinks::standard().facebook); }

void lumaroViewController::Twitter() { openLink(ProductLinks::standard().twitter); }

void lumaroViewController::Help() { openLink(ProductLinks::standard().help); }

}  // namespace app
