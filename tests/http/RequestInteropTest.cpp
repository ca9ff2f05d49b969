// The engine against httpbin for what lumaro-fetch's own interop tests do not reach: the
// credentials it encodes and the cookies it keeps between requests.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "RequestTestSupport.h"
#include "servers/HttpbinServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using http::HTTPRequestPtr;

class HttpbinInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testsupport::application();
        httpbin_ = new HttpbinServer();
    }
    static void TearDownTestSuite() { delete httpbin_; }
    void SetUp() override {
        ASSERT_TRUE(httpbin_->available()) << httpbin_->failure().toStdString();
    }
    static QJsonObject get(const QString& path,
                           const std::function<void(HTTPRequest&)>& setup = {}) {
        auto request = HTTPRequest::requestWithURL(httpbin_->url(path));
        if (setup) setup(*request);
        request->startSynchronous();
        EXPECT_FALSE(request->error()) << path.toStdString();
        return QJsonDocument::fromJson(request->responseData()).object();
    }

    TempHome home_;
    static inline HttpbinServer* httpbin_ = nullptr;
};

TEST_F(HttpbinInterop, BasicCredentialsAreAcceptedAndServerCookiesAreSentBack) {
    const QJsonObject authorised = get("/basic-auth/user/pa:ss", [](HTTPRequest& r) {
        r.addBasicAuthenticationHeaderWithUsername("user", "pa:ss");
    });
    EXPECT_TRUE(authorised["authenticated"].toBool());

    get("/cookies/set?flavour=oat");
    EXPECT_EQ(get("/cookies")["cookies"].toObject()["flavour"].toString(), "oat");
}

}  // namespace
