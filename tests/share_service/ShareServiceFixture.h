#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <thread>

#include "ShareService.h"
#include "SqliteShareStore.h"

namespace share::test {

// A sharing service on 127.0.0.1 with an ephemeral port and a fresh data
// folder, serving on its own thread for the fixture's lifetime.
class ShareServiceFixture : public ::testing::Test {
protected:
    explicit ShareServiceFixture(ServiceLimits limits = {}) : limits_(limits) {}

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        store_ = std::make_unique<SqliteShareStore>(dataDir());
        service_ = std::make_unique<ShareService>(*store_, "http://links.test", limits_);
        port_ = service_->bind("127.0.0.1", 0);
        ASSERT_GT(port_, 0);
        // The socket listens from bind() on, so requests queue until the loop runs.
        thread_ = std::thread([this] { service_->listen(); });
    }

    void TearDown() override {
        if (service_) service_->stop();
        if (thread_.joinable()) thread_.join();
    }

    std::string dataDir() const { return dir_.path().toStdString(); }
    httplib::Client client() const {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(10);
        return c;
    }

    std::string registerKey() {
        auto answer =
            client().Post("/Vesquin/register-api.php", httplib::Params{{"api", "LMRHD00001"}});
        EXPECT_TRUE(answer);
        return answer && answer->status == 200 ? answer->body : std::string();
    }

    // The form the application sends, with any field replaced.
    static httplib::MultipartFormDataItems uploadForm(const std::string& png,
                                                      const std::string& appid = "",
                                                      const std::string& description = "A walk") {
        return {{"description", description, "", ""},
                {"keywords", "", "", ""},
                {"exif_data", "", "", ""},
                {"api", "LMRHD00001", "", ""},
                {"appid", appid, "", ""},
                {"filter_data", "<LSI>1</LSI><COL>B&W</COL>", "", ""},
                {"data", png, "file", "application/octet-stream"}};
    }

    httplib::Result upload(const httplib::MultipartFormDataItems& form) {
        return client().Post("/Vesquin/upload-api.php", form);
    }

    QTemporaryDir dir_;
    ServiceLimits limits_;
    std::unique_ptr<SqliteShareStore> store_;
    std::unique_ptr<ShareService> service_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace share::test
