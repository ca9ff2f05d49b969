#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <thread>

#include "ShareService.h"
#include "SqliteShareStore.h"

namespace share::test {

// A sharing service on 127.0.0.1 with an ephemeral port and a fresh data
// folder, serving on its own thread for the object's lifetime.
class ShareServiceRunner {
public:
    explicit ShareServiceRunner(ServiceLimits limits = {}, std::string publicUrl = {}) {
        store_ = std::make_unique<SqliteShareStore>(dataDir());
        service_ = std::make_unique<ShareService>(*store_, publicUrl, limits);
        port_ = service_->bind("127.0.0.1", 0);
        if (publicUrl.empty()) service_->setPublicUrl(url());
        // The socket listens from bind() on, so requests queue until the loop runs.
        thread_ = std::thread([this] { service_->listen(); });
    }
    ~ShareServiceRunner() {
        service_->stop();
        thread_.join();
    }
    ShareServiceRunner(const ShareServiceRunner&) = delete;
    ShareServiceRunner& operator=(const ShareServiceRunner&) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string dataDir() const { return dir_.path().toStdString(); }
    SqliteShareStore& store() { return *store_; }
    ShareService& service() { return *service_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<SqliteShareStore> store_;
    std::unique_ptr<ShareService> service_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace share::test
