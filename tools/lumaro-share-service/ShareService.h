#pragma once

#include <httplib.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "ShareStore.h"

namespace share {

// The application id every client must send in the field "api".
inline constexpr std::string_view kApplicationId = "LMRHD00001";

struct ServiceLimits {
    std::size_t maxBody = 16 * 1024 * 1024;  // whole request body, in bytes
    int maxSide = 4096;                      // picture width and height, in pixels
    std::size_t maxText = 8192;              // description and adjustment record, in bytes
};

// The sharing service's routes on a cpp-httplib server:
//   POST /Vesquin/register-api.php  url-encoded, api=<application id>:
//                                   answers a new user key as the whole body
//   POST /Vesquin/upload-api.php    multipart form with description, keywords,
//                                   exif_data, api, appid, filter_data and the
//                                   PNG in data: answers <public URL>/p/<id>
//   GET  /p/<id>                    the picture's page
//   GET  /p/<id>.png                the picture
// Refusals answer 400, 403, 404, 413 or 415 with a one-line reason; a
// failing store answers 500. Limits are checked before any work is done.
class ShareService {
public:
    ShareService(ShareStore& store, std::string publicUrl, ServiceLimits limits = {});
    ShareService(const ShareService&) = delete;
    ShareService& operator=(const ShareService&) = delete;

    httplib::Server& server() { return server_; }

    // Binds to host:port (port 0: any free port); returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop() is called from another thread.
    bool listen() { return server_.listen_after_bind(); }
    void stop() { server_.stop(); }

    // The public URL links are made from, without a trailing slash.
    const std::string& publicUrl() const { return publicUrl_; }
    void setPublicUrl(std::string url);

private:
    void registerUser(const httplib::Request& request, httplib::Response& response);
    void uploadPicture(const httplib::Request& request, httplib::Response& response);
    void showPage(const httplib::Request& request, httplib::Response& response);
    void sendPicture(const httplib::Request& request, httplib::Response& response);

    ShareStore& store_;
    std::string publicUrl_;
    ServiceLimits limits_;
    httplib::Server server_;
};

}  // namespace share
