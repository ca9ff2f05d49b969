#include "platform/PhotoMetadata.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLoggingCategory>
#include <mutex>
#include <set>
#include <string>

// exiv2 0.27 hands images out in std::auto_ptr, deprecated since C++11; the
// library is used as it is shipped, so the warning is silenced here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

namespace platform {

namespace {

Q_LOGGING_CATEGORY(lcMetadata, "lumaro.metadata", QtWarningMsg)

void forwardExiv2Message(int level, const char* message) {
    if (level >= Exiv2::LogMsg::error)
        qCWarning(lcMetadata).noquote() << QString::fromUtf8(message).trimmed();
    else
        qCDebug(lcMetadata).noquote() << QString::fromUtf8(message).trimmed();
}

// The XMP toolkit must be set up once before any thread uses it.
void setUpExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setHandler(&forwardExiv2Message);
    });
}

// Tags that describe how the source file stored its pixels (a TIFF's strips,
// a thumbnail's place); in the new picture they would describe nothing, or
// something false.
const std::set<std::string>& storageTags() {
    static const std::set<std::string> tags = {
        "Exif.Image.NewSubfileType",
        "Exif.Image.SubfileType",
        "Exif.Image.ImageWidth",
        "Exif.Image.ImageLength",
        "Exif.Image.BitsPerSample",
        "Exif.Image.Compression",
        "Exif.Image.PhotometricInterpretation",
        "Exif.Image.StripOffsets",
        "Exif.Image.SamplesPerPixel",
        "Exif.Image.RowsPerStrip",
        "Exif.Image.StripByteCounts",
        "Exif.Image.PlanarConfiguration",
        "Exif.Image.Predictor",
        "Exif.Image.TileWidth",
        "Exif.Image.TileLength",
        "Exif.Image.TileOffsets",
        "Exif.Image.TileByteCounts",
        "Exif.Image.SubIFDs",
        "Exif.Image.JPEGInterchangeFormat",
        "Exif.Image.JPEGInterchangeFormatLength",
        "Exif.Image.YCbCrSubSampling",
        "Exif.Image.YCbCrPositioning",
        "Exif.Image.ExtraSamples",
        "Exif.Image.SampleFormat",
    };
    return tags;
}

void fitExifToPixels(Exiv2::ExifData& exif, QSize pixelSize) {
    Exiv2::ExifThumb(exif).erase();
    for (auto it = exif.begin(); it != exif.end();) {
        if (it->groupName() == "Thumbnail" || storageTags().count(it->key()))
            it = exif.erase(it);
        else
            ++it;
    }
    exif["Exif.Image.Orientation"] = uint16_t(1);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
    exif["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
}

void fitXmpToPixels(Exiv2::XmpData& xmp, QSize pixelSize) {
    // XMP keeps a copy of some EXIF fields; where it has them they must agree.
    const auto setWhenPresent = [&](const char* key, const std::string& value) {
        if (xmp.findKey(Exiv2::XmpKey(key)) != xmp.end()) xmp[key] = value;
    };
    setWhenPresent("Xmp.tiff.Orientation", "1");
    setWhenPresent("Xmp.tiff.ImageWidth", std::to_string(pixelSize.width()));
    setWhenPresent("Xmp.tiff.ImageLength", std::to_string(pixelSize.height()));
    setWhenPresent("Xmp.exif.PixelXDimension", std::to_string(pixelSize.width()));
    setWhenPresent("Xmp.exif.PixelYDimension", std::to_string(pixelSize.height()));
}

}  // namespace

struct PhotoMetadata::Data {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
};

PhotoMetadata::PhotoMetadata(std::unique_ptr<Data> data) : d_(std::move(data)) {}
PhotoMetadata::~PhotoMetadata() = default;

std::shared_ptr<const PhotoMetadata> PhotoMetadata::readFrom(const QString& path) {
    setUpExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()));
        if (!image.get()) return nullptr;
        image->readMetadata();
        auto data = std::make_unique<Data>();
        data->exif = image->exifData();
        data->iptc = image->iptcData();
        data->xmp = image->xmpData();
        if (data->exif.empty() && data->iptc.empty() && data->xmp.empty()) return nullptr;
        return std::shared_ptr<const PhotoMetadata>(new PhotoMetadata(std::move(data)));
    } catch (const std::exception& e) {
        // Unreadable metadata never stops a photo from opening.
        qCDebug(lcMetadata) << "no metadata read from" << path << ":" << e.what();
        return nullptr;
    }
}

QByteArray PhotoMetadata::embedIn(const QByteArray& encoded, QSize pixelSize,
                                  QString* error) const {
    setUpExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(encoded.constData()), long(encoded.size()));
        if (!image.get()) throw Exiv2::Error(Exiv2::kerUnsupportedImageType);
        Exiv2::ExifData exif = d_->exif;
        Exiv2::XmpData xmp = d_->xmp;
        fitExifToPixels(exif, pixelSize);
        fitXmpToPixels(xmp, pixelSize);
        image->setExifData(exif);
        image->setIptcData(d_->iptc);
        image->setXmpData(xmp);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const Exiv2::DataBuf written = io.read(long(io.size()));
        return QByteArray(reinterpret_cast<const char*>(written.pData_), int(written.size_));
    } catch (const std::exception& e) {
        if (error) *error = QStringLiteral("cannot write the photo's metadata: %1").arg(e.what());
        return {};
    }
}

QByteArray encodeWithMetadata(const QImage& image, const QByteArray& format, int quality,
                              const PhotoMetadata* metadata, QString* error, QString* warning) {
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (format == "jpeg") writer.setQuality(quality);
    if (!writer.write(image)) {
        *error = writer.errorString();
        return {};
    }
    buffer.close();
    if (!metadata) return encoded;
    QString why;
    QByteArray withMetadata = metadata->embedIn(encoded, image.size(), &why);
    if (withMetadata.isEmpty()) {
        // The picture matters more than its description: it is saved without.
        qCWarning(lcMetadata).noquote() << why;
        if (warning) *warning = why;
        return encoded;
    }
    return withMetadata;
}

}  // namespace platform

#pragma GCC diagnostic pop
