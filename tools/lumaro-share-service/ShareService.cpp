#include "ShareService.h"

#include <cstdio>
#include <ctime>
#include <exception>

#include "PngHeader.h"
#include "RandomTokens.h"
#include "SharePage.h"

namespace share {
namespace {

constexpr int kWorkerThreads = 8;
// A new key or id that collides with a stored one is drawn again; more
// collisions than this in a row mean something else is wrong.
constexpr int kDraws = 8;

void refuse(httplib::Response& response, int status, const std::string& reason) {
    response.status = status;
    response.set_content(reason + "\n", "text/plain; charset=utf-8");
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Well-formed UTF-8 without overlong forms, surrogates or code points past U+10FFFF.
bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xc0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3f);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10ffff))) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string reasonFor(int status) {
    switch (status) {
        case 400:
            return "the request is malformed";
        case 404:
            return "there is nothing here";
        case 405:
            return "this address does not take that method";
        case 413:
            return "the request is too large";
        case 415:
            return "the request's content type is not accepted here";
        default:
            return "the request failed (" + std::to_string(status) + ")";
    }
}

}  // namespace

ShareService::ShareService(ShareStore& store, std::string publicUrl, ServiceLimits limits)
    : store_(store), limits_(limits) {
    setPublicUrl(std::move(publicUrl));
    server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server_.set_payload_max_length(limits_.maxBody);
    server_.set_read_timeout(10);
    server_.set_write_timeout(10);
    server_.set_default_headers({{"X-Content-Type-Options", "nosniff"}});

    server_.Post("/Vesquin/register-api.php",
                 [this](const httplib::Request& q, httplib::Response& r) { registerUser(q, r); });
    server_.Post("/Vesquin/upload-api.php",
                 [this](const httplib::Request& q, httplib::Response& r) { uploadPicture(q, r); });
    server_.Get("/p/[A-Za-z0-9]{8}",
                [this](const httplib::Request& q, httplib::Response& r) { showPage(q, r); });
    server_.Get("/p/[A-Za-z0-9]{8}\\.png",
                [this](const httplib::Request& q, httplib::Response& r) { sendPicture(q, r); });

    // Every refusal carries a one-line reason, also those the server makes itself.
    server_.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) refuse(response, response.status, reasonFor(response.status));
    });
    server_.set_exception_handler(
        [](const httplib::Request& request, httplib::Response& response, std::exception_ptr ep) {
            std::string what = "unknown failure";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            std::fprintf(stderr, "lumaro-share-service: %s %s: %s\n", request.method.c_str(),
                         request.path.c_str(), what.c_str());
            refuse(response, 500, "the service could not store or read the picture");
        });
}

void ShareService::setPublicUrl(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    publicUrl_ = std::move(url);
}

int ShareService::bind(const std::string& host, int port) {
    if (port == 0) return server_.bind_to_any_port(host);
    return server_.bind_to_port(host, port) ? port : -1;
}

void ShareService::registerUser(const httplib::Request& request, httplib::Response& response) {
    if (!startsWith(request.get_header_value("Content-Type"),
                    "application/x-www-form-urlencoded")) {
        return refuse(response, 415, "registration takes a url-encoded form");
    }
    if (request.get_param_value("api") != kApplicationId) {
        return refuse(response, 403, "unknown application id in the field api");
    }
    for (int draw = 0; draw < kDraws; ++draw) {
        std::string key = newUserKey();
        if (store_.addUser(key)) {
            response.set_content(key, "text/plain; charset=utf-8");
            return;
        }
    }
    throw StoreError("no free user key");
}

void ShareService::uploadPicture(const httplib::Request& request, httplib::Response& response) {
    if (!request.is_multipart_form_data()) {
        return refuse(response, 415, "the upload takes a multipart form");
    }
    auto field = [&](const char* name) {
        return request.has_file(name) ? request.get_file_value(name).content : std::string();
    };
    if (field("api") != kApplicationId) {
        return refuse(response, 403, "unknown application id in the field api");
    }
    const std::string userKey = field("appid");
    if (!request.has_file("data")) return refuse(response, 400, "no picture in the field data");
    const std::string& png = request.get_file_value("data").content;
    const auto size = readPngHeader(png);
    if (!size) return refuse(response, 415, "the picture in the field data is not a PNG");
    if (size->width > limits_.maxSide || size->height > limits_.maxSide) {
        return refuse(
            response, 413,
            "the picture is larger than " + std::to_string(limits_.maxSide) + " pixels on a side");
    }
    PictureRecord record;
    record.description = field("description");
    record.adjustments = field("filter_data");
    for (const std::string* text : {&record.description, &record.adjustments}) {
        if (text->size() > limits_.maxText) {
            return refuse(response, 413,
                          "the description or the adjustments are longer than " +
                              std::to_string(limits_.maxText) + " bytes");
        }
        if (!isUtf8(*text)) {
            return refuse(response, 400, "the description or the adjustments are not UTF-8 text");
        }
    }
    if (!userKey.empty() && !store_.hasUser(userKey)) {
        return refuse(response, 403, "unknown user key in the field appid");
    }
    record.userKey = userKey;
    record.createdAt = std::int64_t(std::time(nullptr));
    record.width = size->width;
    record.height = size->height;
    for (int draw = 0; draw < kDraws; ++draw) {
        record.id = newPictureId();
        if (store_.addPicture(record, png)) {
            response.set_content(publicUrl_ + "/p/" + record.id, "text/plain; charset=utf-8");
            return;
        }
    }
    throw StoreError("no free picture id");
}

void ShareService::showPage(const httplib::Request& request, httplib::Response& response) {
    const auto record = store_.findPicture(request.path.substr(3));
    if (!record) return refuse(response, 404, "no picture has this address");
    response.set_header("Content-Security-Policy",
                        "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'");
    response.set_content(sharePage(*record), "text/html; charset=utf-8");
}

void ShareService::sendPicture(const httplib::Request& request, httplib::Response& response) {
    const std::string& path = request.path;
    auto data = store_.pictureData(path.substr(3, path.size() - 3 - 4));
    if (!data) return refuse(response, 404, "no picture has this address");
    // A stored picture never changes.
    response.set_header("Cache-Control", "public, max-age=31536000, immutable");
    response.set_content(std::move(*data), "image/png");
}

}  // namespace share
