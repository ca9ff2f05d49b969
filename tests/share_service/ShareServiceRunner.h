#pragma once

#include <zlib.h>

#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <thread>

#include "ShareService.h"
#include "SqliteShareStore.h"

namespace share::test {

// A sharing service on 127.0.0.1 with an ephemeral port and a fresh data
// folder, serving on its own thread for the object's lifetime.
class ShareServiceRunner {
public:
    explicit ShareServiceRunner(ServiceLimits limits = {}, const std::string& publicUrl = {})
        : store_(dir_.path().toStdString()), service_(store_, publicUrl, limits) {
        port_ = service_.bind("127.0.0.1", 0);
        if (publicUrl.empty()) service_.setPublicUrl(url());
        // The socket listens from bind() on, so requests queue until the loop runs.
        thread_ = std::thread([this] { service_.listen(); });
    }
    ~ShareServiceRunner() {
        service_.stop();
        thread_.join();
    }

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string dataDir() const { return dir_.path().toStdString(); }
    SqliteShareStore& store() { return store_; }

private:
    QTemporaryDir dir_;
    SqliteShareStore store_;
    ShareService service_;
    int port_ = 0;
    std::thread thread_;
};

// A PNG's frame: signature, IHDR, one IDAT of any bytes and IEND; enough
// for the service, which reads the header and never the pixels.
inline std::string pngBytes(std::uint32_t width, std::uint32_t height, int depth = 8,
                            int colourType = 6, const std::string& idat = std::string(64, 'x')) {
    auto u32 = [](std::string& out, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift & 0xff);
    };
    std::string png("\x89PNG\r\n\x1a\n", 8);
    auto chunk = [&](const std::string& typeAndData) {
        u32(png, std::uint32_t(typeAndData.size() - 4));
        png += typeAndData;
        u32(png, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                     uInt(typeAndData.size()))));
    };
    std::string ihdr = "IHDR";
    u32(ihdr, width);
    u32(ihdr, height);
    ihdr += {char(depth), char(colourType), 0, 0, 0};
    chunk(ihdr);
    chunk("IDAT" + idat);
    chunk("IEND");
    return png;
}

}  // namespace share::test
