#include "sharing/ShareClient.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPointer>

#include "http/Error.h"
#include "http/FormDataRequest.h"
#include "http/HTTPRequest.h"
#include "http/NetworkQueue.h"
#include "imaging/BitmapImage.h"
#include "imaging/Intake.h"
#include "imaging/Renderer.h"
#include "platform/Defaults.h"
#include "reachability/Reachability.h"
#include "sharing/AdjustmentRecord.h"
#include "sharing/ShareAnswers.h"
#include "sharing/ShareKeys.h"
#include "sharing/ShareLog.h"
#include "sharing/UploadSize.h"

namespace sharing {

// The queues' delegate; holds the client without owning it, so a request
// that finishes after the client is gone reports to nobody.
class ShareClient::Receiver : public http::NetworkQueueDelegate {
public:
    explicit Receiver(ShareClient* client) : client(client) {}
    QPointer<ShareClient> client;
};

http::RequestSelector ShareClient::selectorFor(Callback callback) {
    return [callback](http::HTTPRequestDelegate& delegate, const http::HTTPRequestPtr& request) {
        if (ShareClient* client = static_cast<Receiver&>(delegate).client) {
            (client->*callback)(request);
        }
    };
}

namespace {

QString errorText(const http::HTTPRequestPtr& request) {
    const http::ErrorPtr error = request->error();
    return error ? error->localizedDescription : QStringLiteral("the request failed");
}

int errorCode(const http::HTTPRequestPtr& request) {
    const http::ErrorPtr error = request->error();
    return error && error->code > 0 ? error->code : 1;
}

QByteArray pngData(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) return {};
    return bytes;
}

}  // namespace

ShareClient::ShareClient(ShareEndpoints endpoints, QObject* parent)
    : QObject(parent),
      endpoints_(std::move(endpoints)),
      receiver_(std::make_shared<Receiver>(this)),
      networkQueue_(http::NetworkQueue::queue()),
      networkQueue2_(http::NetworkQueue::queue()) {}

ShareClient::~ShareClient() {
    networkQueue_->reset();
    networkQueue2_->reset();
}

bool ShareClient::isRegistered() {
    return platform::Defaults::standard().integerForKey(keys::Registered) == 1;
}

bool ShareClient::probeHostReachable(std::unique_ptr<reachability::Reachability>& slot) {
    slot = reachability::Reachability::reachabilityWithHostName(endpoints_.probeHost);
    if (!slot || slot->currentReachabilityStatus() == reachability::StatusUnreachable) {
        return false;
    }
    slot->startNotifier();
    return true;
}

void ShareClient::registerUser() {
    if (isRegistered()) return;
    http::NetworkQueue& queue = *networkQueue2_;
    queue.reset();
    queue.setShowAccurateProgress(true);
    queue.setRequestDidFailSelector(selectorFor(&ShareClient::registerFailed));
    queue.setRequestDidFinishSelector(selectorFor(&ShareClient::registerFinished));
    queue.setDelegate(receiver_);
    auto request = http::FormDataRequest::requestWithURL(endpoints_.registerURL());
    request->setPostValue(appId, QStringLiteral("api"));
    queue.addOperation(request);
    if (probeHostReachable(hostReachable2_)) {
        queue.go();
    } else {
        queue.reset();
        emit registrationFailed(1, QStringLiteral("the sharing service at %1 cannot be reached")
                                       .arg(endpoints_.probeHost));
    }
}

void ShareClient::registerFinished(const http::HTTPRequestPtr& request) {
    qCDebug(lcShare) << "Registration completed.";
    if (isRegistered()) return;
    const QString body = request->responseString().value_or(QString());
    // Only a proper key registers: storing an error page for good would lose
    // the registration for ever.
    const auto key = userKeyFromAnswer(request->responseStatusCode(), body);
    if (!key) {
        const QString reason = refusalReason(request->responseStatusCode(), body);
        qCDebug(lcShare).noquote() << QStringLiteral("Registration Failed: %1").arg(reason);
        emit registrationFailed(0, reason);
        return;
    }
    auto& defaults = platform::Defaults::standard();
    defaults.setString(*key, keys::PrivateKey);
    defaults.setInteger(1, keys::Registered);
    defaults.synchronize();
    emit registered(*key);
}

void ShareClient::registerFailed(const http::HTTPRequestPtr& request) {
    const QString reason = errorText(request);
    qCDebug(lcShare).noquote() << QStringLiteral("Registration Failed: %1").arg(reason);
    emit registrationFailed(errorCode(request), reason);
}

void ShareClient::upload(imaging::Renderer& renderer, const imaging::SliderValues& sliders,
                         int toneSegment) {
    auto& defaults = platform::Defaults::standard();
    const QString description = defaults.stringForKey(keys::ShDescription);
    const bool sendRecord = defaults.boolForKey(keys::ShAdjustments);
    startUpload(renderer, sliders, toneSegment, description, sendRecord, true);
}

void ShareClient::uploadPicture(imaging::Renderer& renderer, const imaging::SliderValues& sliders,
                                int toneSegment, const QString& description, bool sendRecord) {
    startUpload(renderer, sliders, toneSegment, description, sendRecord, false);
}

void ShareClient::startUpload(imaging::Renderer& renderer, const imaging::SliderValues& sliders,
                              int toneSegment, const QString& description, bool sendRecord,
                              bool answerThroughDefaults) {
    answerThroughDefaults_ = answerThroughDefaults;
    qCDebug(lcShare) << "Registration completed.";
    QString userKey;
    if (isRegistered()) {
        userKey = platform::Defaults::standard().stringForKey(keys::PrivateKey);
        qCDebug(lcShare) << "Use userKey";
    } else {
        qCDebug(lcShare) << "User registration required";
        registerUser();
    }

    const auto& picture = renderer.pickedPicture();
    const QSize points = picture ? picture->uprightSize() : QSize(0, 0);
    float width = float(points.width());
    float height = float(points.height());
    qCDebug(lcShare).noquote() << QStringLiteral("rwidth:%1").arg(floatText(width));
    qCDebug(lcShare).noquote() << QStringLiteral("rheight:%1").arg(floatText(height));
    const UploadSize reduced = reducedUploadSize(width, height);
    qCDebug(lcShare).noquote() << QStringLiteral("rwidth:%1").arg(floatText(reduced.width));
    qCDebug(lcShare).noquote() << QStringLiteral("rheight:%1").arg(floatText(reduced.height));
    const QSize pixels = reduced.pixels();
    qCDebug(lcShare).noquote() << pixels.width();
    qCDebug(lcShare).noquote() << pixels.height();

    QByteArray png;
    if (picture) {
        imaging::Bitmap upright = imaging::uprightPicture(*picture, pixels);
        png = pngData(imaging::imageFromBitmap(renderer.fullResolutionRender(std::move(upright))));
    }
    if (png.isEmpty()) {
        // Reported instead of sending an empty picture the service would refuse anyway.
        failUpload(1, picture ? QStringLiteral("the picture could not be encoded")
                              : QStringLiteral("no picture has been opened"));
        return;
    }
    qCDebug(lcShare) << "Image data prepared";

    http::NetworkQueue& queue = *networkQueue_;
    queue.reset();
    queue.setShowAccurateProgress(true);
    queue.setRequestDidFailSelector(selectorFor(&ShareClient::postFailed));
    queue.setRequestDidFinishSelector(selectorFor(&ShareClient::postFinished));
    queue.setDelegate(receiver_);
    qCDebug(lcShare) << "NetworkQueue initialized";

    const QString record = adjustmentRecord(sliders, renderer.state(), toneSegment);
    auto request = http::FormDataRequest::requestWithURL(endpoints_.uploadURL());
    request->setData(png, QStringLiteral("data"));
    request->setPostValue(description, QStringLiteral("description"));
    request->setPostValue(QString(), QStringLiteral("keywords"));
    request->setPostValue(QString(), QStringLiteral("exif_data"));
    request->setPostValue(appId, QStringLiteral("api"));
    request->setPostValue(userKey, QStringLiteral("appid"));
    request->setPostValue(sendRecord ? record : QString(), QStringLiteral("filter_data"));
    qCDebug(lcShare) << "Datagram populated";
    queue.addOperation(request);

    if (probeHostReachable(hostReachable_)) {
        qCDebug(lcShare) << "Host reachable.";
        queue.go();
    } else {
        qCDebug(lcShare) << "Host not reachable.";
        queue.reset();
        failUpload(1, QStringLiteral("the sharing service at %1 cannot be reached")
                          .arg(endpoints_.probeHost));
    }
}

void ShareClient::postFinished(const http::HTTPRequestPtr& request) {
    qCDebug(lcShare) << "Post Finished";
    const QString body = request->responseString().value_or(QString());
    if (const auto link = linkFromAnswer(request->responseStatusCode(), body)) {
        answerUpload(QString(), *link);
        emit uploaded(*link);
    } else {
        failUpload(0, refusalReason(request->responseStatusCode(), body));
    }
}

void ShareClient::postFailed(const http::HTTPRequestPtr& request) {
    const QString reason = errorText(request);
    qCDebug(lcShare).noquote() << QStringLiteral("Post Failed: %1").arg(reason);
    failUpload(errorCode(request), reason, request->responseString().value_or(QString()));
}

void ShareClient::answerUpload(const QString& error, const QString& output) {
    if (!answerThroughDefaults_) return;
    auto& defaults = platform::Defaults::standard();
    defaults.setBool(true, keys::ShOutputReady);
    defaults.setString(output, keys::ShOutput);
    defaults.setString(error, keys::ShError);
    defaults.synchronize();
}

void ShareClient::failUpload(int code, const QString& reason, const QString& output) {
    answerUpload(reason, output);
    emit uploadFailed(code, reason);
}

}  // namespace sharing
