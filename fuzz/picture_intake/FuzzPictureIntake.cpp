// Feeds arbitrary bytes to picture intake: the decoder with its framing checks and its size
// limit, then the fit to the output size and the upright copies under every orientation,
// checking the sizes each step promises.

#include <QBuffer>
#include <QImageReader>
#include <cstdint>
#include <cstdlib>

#include "imaging/Intake.h"
#include "platform/PictureDecoder.h"
#include "platform/PictureStructure.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Pictures this large decode slowly and teach the fuzzer nothing new; those beyond the
// decode limit still go through, to be refused.
constexpr qint64 kLargestDecoded = qint64(1) << 18;

bool largeButAllowed(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    return size.isValid() && platform::fitsDecodeLimit(size) &&
           qint64(size.width()) * size.height() > kLargestDecoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const platform::PictureFault fault = platform::checkPictureStructure(data, size);
    if (fault == platform::PictureFault::None && largeButAllowed(bytes)) return 0;
    QString error;
    const auto decoded = platform::decodePictureData(bytes, &error);
    if (!decoded) {
        check(error.startsWith(QLatin1String("cannot read picture data: ")));
        return 0;
    }
    check(error.isEmpty());
    const QImage& grid = decoded->grid;
    check(!grid.isNull() && platform::fitsDecodeLimit(grid.size()));
    check(grid.format() == QImage::Format_RGB32 ||
          grid.format() == QImage::Format_ARGB32_Premultiplied);
    check(fault == platform::PictureFault::None);
    // Formats whose header gives no size reach here at any size the limit allows.
    if (qint64(grid.width()) * grid.height() > kLargestDecoded) return 0;

    for (int turn = 0; turn < 8; ++turn) {
        const auto orientation =
            static_cast<imaging::Orientation>((static_cast<int>(decoded->orientation) + turn) % 8);
        const imaging::Picture picture{grid, orientation};
        const QSize upright = picture.uprightSize();

        const int outputSize = 1 + (size > 0 ? data[size - 1] : 0) * 4;
        const imaging::Bitmap fitted = imaging::fitToOutputSize(picture, outputSize);
        const QSize fit =
            imaging::fitPixels(imaging::fitTarget(upright.width(), upright.height(), outputSize));
        check(fitted.width() == fit.width() && fitted.height() == fit.height());
        check(fitted.bytesPerRow() >= 4 * fitted.width());

        const imaging::Bitmap copy = imaging::uprightPicture(picture);
        check(copy.width() == upright.width() && copy.height() == upright.height());
        const QSize reduced = upright.scaled(40, 40, Qt::KeepAspectRatio).expandedTo({1, 1});
        const imaging::Bitmap small = imaging::uprightPicture(picture, reduced);
        check(small.width() == reduced.width() && small.height() == reduced.height());
    }
    return 0;
}
