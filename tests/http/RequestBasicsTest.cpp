#include <gtest/gtest.h>

#include "RequestTestSupport.h"
#include "servers/InProcessHttpServer.h"
#include "support/TempHome.h"

namespace {

using http::HTTPRequest;
using namespace testsupport;

class RequestBasics : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        server_.server().Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello world", "text/plain; charset=utf-8");
        });
        server_.start();
    }
    TempHome home_;
    InProcessHttpServer server_;
};

TEST_F(RequestBasics, SynchronousGetReadsStatusHeadersAndBody) {
    auto request = HTTPRequest::requestWithURL(server_.url("/hello"));
    request->setAllowCompressedResponse(false);
    request->startSynchronous();
    ASSERT_FALSE(request->error()) << request->error()->localizedDescription.toStdString();
    EXPECT_EQ(request->responseStatusCode(), 200);
    EXPECT_EQ(request->responseStatusMessage(), "HTTP/1.1 200 OK");
    EXPECT_EQ(request->responseData(), "hello world");
    EXPECT_EQ(request->responseString().value_or(""), "hello world");
    EXPECT_TRUE(request->isFinished());
}

}  // namespace
