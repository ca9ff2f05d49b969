// lumaro-render: renders one photo under the given adjustments, exactly as
// the application does, and writes the result.

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageWriter>
#include <QLoggingCategory>
#include <QSaveFile>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "RenderOptions.h"
#include "ShareUpload.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "platform/PhotoMetadata.h"

namespace {

int failWith(const QString& message, int code) {
    std::fprintf(stderr, "lumaro-render: %s\n", qPrintable(message));
    return code;
}

QByteArray formatFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) return "png";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return "jpeg";
    return {};
}

// Written under a temporary name and renamed at the end, so a failed run
// never leaves a partial picture behind.
bool writePicture(const QImage& image, const QString& path, const QByteArray& format, int quality,
                  const platform::PhotoMetadata* metadata, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QString encodeError;
    QString metadataWarning;
    const QByteArray encoded = platform::encodeWithMetadata(image, format, quality, metadata,
                                                            &encodeError, &metadataWarning);
    if (!metadataWarning.isEmpty())
        std::fprintf(stderr, "lumaro-render: %s\n", qPrintable(metadataWarning));
    if (encoded.isEmpty() || file.write(encoded) != encoded.size()) {
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(path, encoded.isEmpty() ? encodeError : file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

int render(const RenderOptions& options, const QByteArray& format) {
    imaging::AdjustmentState state = options.state;
    imaging::Renderer renderer(state);
    if (options.seed) renderer.setRandomSeed(*options.seed);
    const imaging::SliderValues sliders = options.sliders;
    renderer.setSliderSource([sliders] { return sliders; });

    QString error;
    QImage result;
    if (options.exportRender) {
        imaging::Bitmap upright = imaging::uprightPictureFromFile(options.input, &error);
        if (upright.isNull()) return failWith(error, 1);
        result = imaging::imageFromBitmap(renderer.fullResolutionRender(std::move(upright)));
    } else {
        auto picture = imaging::Picture::fromFile(options.input, &error);
        if (!picture) return failWith(error, 1);
        renderer.takeInPicture(std::make_shared<const imaging::Picture>(std::move(*picture)));
        result = imaging::imageFromBitmap(renderer.workingImage());
    }
    if (result.isNull()) return failWith(QStringLiteral("nothing was rendered"), 1);
    const auto metadata =
        options.keepMetadata ? platform::PhotoMetadata::readFrom(options.input) : nullptr;
    if (!writePicture(result, options.output, format, options.quality, metadata.get(), &error)) {
        return failWith(error, 1);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(qPrintable(renderUsage()), stdout);
        return 0;
    }
    QString error;
    auto options = parseRenderOptions(args, &error);
    if (!options) return failWith(error + QStringLiteral(" (see --help)"), 2);
    if (!options->shareUrl.isEmpty()) {
        try {
            return sharePicture(*options);
        } catch (const std::bad_alloc&) {
            return failWith(QStringLiteral("not enough memory to render %1").arg(options->input),
                            1);
        }
    }
    const QByteArray format = formatFor(options->output);
    if (format.isEmpty()) {
        return failWith(
            QStringLiteral("cannot write %1: use a .png, .jpg or .jpeg name").arg(options->output),
            2);
    }

    try {
        return render(*options, format);
    } catch (const std::bad_alloc&) {
        return failWith(QStringLiteral("not enough memory to render %1").arg(options->input), 1);
    } catch (const std::exception& e) {
        return failWith(QStringLiteral("cannot render %1: %2").arg(options->input, e.what()), 1);
    }
}
