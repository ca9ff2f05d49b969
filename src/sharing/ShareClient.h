#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "http/HTTPRequestDelegate.h"
#include "imaging/SliderValues.h"
#include "sharing/ShareEndpoints.h"

namespace http {
class NetworkQueue;
}
namespace imaging {
class Renderer;
}
namespace reachability {
class Reachability;
}

namespace sharing {

// The sharing service's client: registers this installation once and keeps
// the user key in the defaults (Registered, PrivateKey), and uploads the
// picked picture, rendered in export mode at 800 pixels on its long side,
// with its description and adjustment record. Registration and upload each
// have a queue of their own and may run at the same time; each starts with
// a reset of its queue. A request goes out only when the service's probe
// host is reachable.
//
// The application starts uploads through upload(), which reads the share
// panel's request from the defaults and answers there (ShOutputReady,
// ShOutput, ShError); every answer is also a signal, for callers that wait
// on their own. GUI thread only.
class ShareClient : public QObject {
    Q_OBJECT

public:
    explicit ShareClient(ShareEndpoints endpoints, QObject* parent = nullptr);
    ~ShareClient() override;

    const ShareEndpoints& endpoints() const { return endpoints_; }

    // Starts a registration unless the installation is registered.
    void registerUser();
    // The share panel's upload: description and record switch from the defaults.
    void upload(imaging::Renderer& renderer, const imaging::SliderValues& sliders, int toneSegment);
    // The same with the description and the switch given; answers by signal only.
    void uploadPicture(imaging::Renderer& renderer, const imaging::SliderValues& sliders,
                       int toneSegment, const QString& description, bool sendRecord);

    // The queues' callbacks.
    void registerFinished(const http::HTTPRequestPtr& request);
    void registerFailed(const http::HTTPRequestPtr& request);
    void postFinished(const http::HTTPRequestPtr& request);
    void postFailed(const http::HTTPRequestPtr& request);

    static bool isRegistered();

    http::NetworkQueue& networkQueue() { return *networkQueue_; }
    http::NetworkQueue& networkQueue2() { return *networkQueue2_; }

signals:
    void registered(const QString& userKey);
    // code: the engine's error code, or 0 when the service refused.
    void registrationFailed(int code, const QString& reason);
    void uploaded(const QString& link);
    void uploadFailed(int code, const QString& reason);

private:
    class Receiver;
    using Callback = void (ShareClient::*)(const http::HTTPRequestPtr&);
    static http::RequestSelector selectorFor(Callback callback);

    void startUpload(imaging::Renderer& renderer, const imaging::SliderValues& sliders,
                     int toneSegment, const QString& description, bool sendRecord,
                     bool answerThroughDefaults);

    bool probeHostReachable(std::unique_ptr<reachability::Reachability>& slot);
    // Tells the share panel: the error is empty for a link, output is what it shows.
    void answerUpload(const QString& error, const QString& output);
    void failUpload(int code, const QString& reason, const QString& output = QString());

    ShareEndpoints endpoints_;
    std::shared_ptr<Receiver> receiver_;
    std::shared_ptr<http::NetworkQueue> networkQueue_;
    std::shared_ptr<http::NetworkQueue> networkQueue2_;
    std::unique_ptr<reachability::Reachability> hostReachable_;
    std::unique_ptr<reachability::Reachability> hostReachable2_;
    // Whether the upload under way answers the share panel through the defaults.
    bool answerThroughDefaults_ = false;
};

}  // namespace sharing
