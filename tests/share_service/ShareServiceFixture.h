#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "ShareServiceRunner.h"

namespace share::test {

// A test with a sharing service of its own (links start with http://links.test).
class ShareServiceFixture : public ::testing::Test {
protected:
    explicit ShareServiceFixture(ServiceLimits limits = {}) : limits_(limits) {}

    void SetUp() override {
        runner_ = std::make_unique<ShareServiceRunner>(limits_, "http://links.test");
        ASSERT_GT(runner_->port(), 0);
        store_ = &runner_->store();
        port_ = runner_->port();
    }
    void TearDown() override { runner_.reset(); }

    std::string dataDir() const { return runner_->dataDir(); }
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

    ServiceLimits limits_;
    std::unique_ptr<ShareServiceRunner> runner_;
    SqliteShareStore* store_ = nullptr;
    int port_ = 0;
};

}  // namespace share::test
