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
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16 & 0xff), char(v >> 8 & 0xff),
                           char(v & 0xff)};
    };
    std::string png("\x89PNG\r\n\x1a\n", 8);
    const std::string ihdr = "IHDR" + u32(width) + u32(height) + char(depth) + char(colourType);
    for (const std::string& chunk :
         {ihdr + std::string(3, '\0'), "IDAT" + idat, std::string("IEND")}) {
        const auto* bytes = reinterpret_cast<const Bytef*>(chunk.data());
        png +=
            u32(std::uint32_t(chunk.size() - 4)) + chunk + u32(crc32(0, bytes, uInt(chunk.size())));
    }
    return png;
}

}  // namespace share::test
