#include <gtest/gtest.h>
#include <zlib.h>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "http/DataCompressor.h"
#include "http/DataDecompressor.h"
#include "support/Files.h"

namespace {

using http::DataCompressor;
using http::DataDecompressor;
using http::ErrorPtr;

QByteArray sampleText(qsizetype size) {
    QByteArray data;
    data.reserve(size);
    const QByteArray line = "The quick brown fox jumps over the lazy dog. 0123456789\n";
    while (data.size() < size) data.append(line);
    data.truncate(size);
    return data;
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (auto& byte : data) byte = static_cast<char>(random.bounded(256));
    return data;
}

using testfiles::readFile;
using testfiles::writeFile;

QByteArray zlibWrapped(const QByteArray& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.constData()), static_cast<uLong>(data.size()));
    out.resize(static_cast<qsizetype>(size));
    return out;
}

TEST(Compression, BlocksRoundTripWholeAndInPiecesOfAnySize) {
    // Megabytes of one byte inflate to a thousand times their compressed size, so a
    // three-byte piece must grow its output far beyond half its length.
    std::vector<QByteArray> samples = {QByteArray(8 * 1024 * 1024, 'a')};
    for (qsizetype size : {1, 2, 17, 4096, 300000}) {
        samples.push_back(sampleText(size));
        samples.push_back(randomBytes(size, 7));
    }
    for (const QByteArray& data : samples) {
        SCOPED_TRACE(data.size());
        ErrorPtr error;
        const QByteArray gzip = DataCompressor::compressData(data, &error);
        ASSERT_FALSE(error);
        EXPECT_TRUE(gzip.startsWith("\x1f\x8b"));
        EXPECT_TRUE(DataDecompressor::uncompressData(gzip, &error) == data);
        EXPECT_TRUE(DataDecompressor::uncompressData(zlibWrapped(data), &error) == data);
        // In two pieces, the second finishing the stream.
        auto compressor = DataCompressor::compressor();
        const qsizetype half = data.size() / 2;
        QByteArray halves =
            compressor->compressBytes(data.constData(), quint32(half), &error, false);
        halves += compressor->compressBytes(data.constData() + half, quint32(data.size() - half),
                                            &error, true);
        EXPECT_FALSE(compressor->closeStream());
        EXPECT_FALSE(compressor->streamReady());
        EXPECT_TRUE(DataDecompressor::uncompressData(halves, &error) == data);
        for (qsizetype piece : {3, 1000}) {
            // Three-byte pieces of a large incompressible body would only slow the test.
            if (piece * 100000 < gzip.size()) continue;
            auto decompressor = DataDecompressor::decompressor();
            QByteArray joined;
            for (qsizetype at = 0; at < gzip.size(); at += piece) {
                const QByteArray part = gzip.mid(at, piece);
                joined += decompressor->uncompressBytes(part.constData(),
                                                        static_cast<quint32>(part.size()), &error);
            }
            EXPECT_FALSE(error);
            EXPECT_TRUE(joined == data) << "pieces of " << piece;
        }
    }
    ErrorPtr error;
    EXPECT_TRUE(DataCompressor::compressData(QByteArray(), &error).isNull());
    EXPECT_TRUE(DataDecompressor::uncompressData(QByteArray(), &error).isNull());
    EXPECT_FALSE(error);
}

TEST(Compression, CorruptDataFailsWithZlibsDataErrorStatus) {
    ErrorPtr error;
    QByteArray gzip = DataCompressor::compressData(sampleText(10000), &error);
    gzip[12] = static_cast<char>(gzip[12] ^ 0xFF);
    gzip[13] = static_cast<char>(gzip[13] ^ 0xFF);
    EXPECT_TRUE(DataDecompressor::uncompressData(gzip, &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "HTTPRequestErrorDomain");
    EXPECT_EQ(error->code, 11);
    EXPECT_EQ(error->localizedDescription, "Decompression of data failed with code -3");
    // No out-parameter: the failure is still an empty answer, not a crash.
    EXPECT_TRUE(DataDecompressor::uncompressData("not gzip at all", nullptr).isNull());
    EXPECT_EQ(DataCompressor::deflateErrorWithCode(-2)->localizedDescription,
              "Compression of data failed with code -2");
}

class CompressionFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(CompressionFiles, FilesRoundTripIncludingExactPieceSizesAndEmptySources) {
    for (qsizetype size : {0, 1, 262144, 262144 * 2, 600000}) {
        const QByteArray data = randomBytes(size / 2, 11) + sampleText(size - size / 2);
        writeFile(path("plain"), data);
        ErrorPtr error;
        ASSERT_TRUE(DataCompressor::compressDataFromFile(path("plain"), path("gz"), &error))
            << size;
        const QByteArray gzip = readFile(path("gz"));
        if (size == 0) {
            EXPECT_TRUE(gzip.isEmpty());
        } else {
            // One complete gzip stream, also for a source ending on a piece boundary.
            EXPECT_EQ(DataDecompressor::uncompressData(gzip, &error), data) << size;
        }
        ASSERT_TRUE(DataDecompressor::uncompressDataFromFile(path("gz"), path("back"), &error));
        EXPECT_EQ(readFile(path("back")), data) << size;
    }
}

TEST_F(CompressionFiles, FileFailuresNameThePaths) {
    ErrorPtr error;
    EXPECT_FALSE(DataCompressor::compressDataFromFile(path("missing"), path("out"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, 11);
    EXPECT_EQ(error->localizedDescription,
              QString("Compression of %1 failed the file does not exist").arg(path("missing")));

    writeFile(path("plain"), sampleText(100));
    const QString unwritable = path("no-such-dir/out");
    EXPECT_FALSE(DataDecompressor::uncompressDataFromFile(path("plain"), unwritable, &error));
    EXPECT_EQ(error->localizedDescription,
              QString("Decompression of %1 failed because we were to create a file at %2")
                  .arg(path("plain"), unwritable));

    // Plain text is no gzip stream: the zlib status is reported.
    EXPECT_FALSE(DataDecompressor::uncompressDataFromFile(path("plain"), path("out"), &error));
    EXPECT_EQ(error->localizedDescription, "Decompression of data failed with code -3");

    // A directory exists but cannot be read from.
    EXPECT_FALSE(DataCompressor::compressDataFromFile(dir_.path(), path("out"), &error));
    EXPECT_EQ(error->localizedDescription,
              QString("Compression of %1 failed because we were unable to read from the source "
                      "data file")
                  .arg(dir_.path()));
}

}  // namespace
