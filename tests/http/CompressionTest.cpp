// gzip in memory, in pieces of any size and between files, and the failures of each.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QRandomGenerator>
#include <QTemporaryDir>

#include "http/DataCompressor.h"
#include "http/DataDecompressor.h"
#include "support/Files.h"

namespace {

using http::DataCompressor;
using http::DataDecompressor;
using http::ErrorPtr;
using testfiles::readFile;
using testfiles::writeFile;

// Random bytes, which barely compress, then repeated text.
QByteArray sample(qsizetype size) {
    QRandomGenerator random(static_cast<quint32>(size));
    QByteArray data(size / 2, Qt::Uninitialized);
    for (auto& byte : data) byte = static_cast<char>(random.bounded(256));
    while (data.size() < size) data.append("The quick brown fox jumps over the lazy dog. 0123\n");
    return data.left(size);
}

QByteArray zlibWrapped(const QByteArray& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.constData()), static_cast<uLong>(data.size()));
    return out.left(static_cast<qsizetype>(size));
}

TEST(Compression, DataRoundTripsWholeInPiecesOfAnySizeAndThroughFiles) {
    // Megabytes of one byte inflate to a thousand times their compressed size, so a
    // three-byte piece must grow its output far beyond half its length. Files are read in
    // pieces of 256 KiB: sources end on and beside a piece boundary.
    std::vector<QByteArray> samples = {QByteArray(8 * 1024 * 1024, 'a')};
    for (qsizetype size : {1, 2, 17, 4096, 262144, 262144 * 2, 600000})
        samples.push_back(sample(size));
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain"), gz = dir.filePath("gz"),
                  back = dir.filePath("back");
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
            if (piece * 10000 < gzip.size()) continue;
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
        // One complete gzip stream in the file, also for a source ending on a boundary.
        writeFile(plain, data);
        ASSERT_TRUE(DataCompressor::compressDataFromFile(plain, gz, &error));
        EXPECT_TRUE(DataDecompressor::uncompressData(readFile(gz), &error) == data);
        ASSERT_TRUE(DataDecompressor::uncompressDataFromFile(gz, back, &error));
        EXPECT_TRUE(readFile(back) == data);
    }
    ErrorPtr error;
    EXPECT_TRUE(DataCompressor::compressData(QByteArray(), &error).isNull());
    EXPECT_TRUE(DataDecompressor::uncompressData(QByteArray(), &error).isNull());
    writeFile(plain, QByteArray());
    ASSERT_TRUE(DataCompressor::compressDataFromFile(plain, gz, &error));
    EXPECT_TRUE(readFile(gz).isEmpty());
    ASSERT_TRUE(DataDecompressor::uncompressDataFromFile(gz, back, &error));
    EXPECT_TRUE(readFile(back).isEmpty());
    EXPECT_FALSE(error);
}

TEST(Compression, FailuresCarryZlibsStatusOrNameThePaths) {
    ErrorPtr error;
    EXPECT_TRUE(DataDecompressor::uncompressData("not gzip at all", &error).isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "HTTPRequestErrorDomain");
    EXPECT_EQ(error->code, 11);
    EXPECT_EQ(error->localizedDescription, "Decompression of data failed with code -3");
    // No out-parameter: the failure is still an empty answer, not a crash.
    EXPECT_TRUE(DataDecompressor::uncompressData("not gzip at all", nullptr).isNull());
    EXPECT_EQ(DataCompressor::deflateErrorWithCode(-2)->localizedDescription,
              "Compression of data failed with code -2");

    QTemporaryDir dir;
    const QString plain = dir.filePath("plain"), out = dir.filePath("out");
    const QString missing = dir.filePath("missing"), unwritable = dir.filePath("no-dir/out");
    writeFile(plain, "not gzip at all");
    const struct {
        bool compress;
        QString from, to, message;
    } cases[] = {
        {true, missing, out, "Compression of " + missing + " failed the file does not exist"},
        {false, plain, unwritable,
         "Decompression of " + plain + " failed because we were to create a file at " + unwritable},
        {false, plain, out, "Decompression of data failed with code -3"},
        // A directory exists but cannot be read from.
        {true, dir.path(), out,
         "Compression of " + dir.path() +
             " failed because we were unable to read from the source data file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        error.reset();
        EXPECT_FALSE(c.compress ? DataCompressor::compressDataFromFile(c.from, c.to, &error)
                                : DataDecompressor::uncompressDataFromFile(c.from, c.to, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, 11);
        EXPECT_EQ(error->localizedDescription, c.message);
    }
}

}  // namespace
