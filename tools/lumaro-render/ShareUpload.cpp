#include "ShareUpload.h"

#include <QEventLoop>
#include <cstdio>
#include <memory>
#include <optional>

#include "imaging/Renderer.h"
#include "sharing/ShareClient.h"

namespace {

int failWith(int code, const QString& reason) {
    std::fprintf(stderr, "lumaro-render: %s\n", qPrintable(reason));
    // A refusal by the service has no engine code.
    return code > 0 ? code : 1;
}

}  // namespace

int sharePicture(const RenderOptions& options) {
    QString error;
    auto picture = imaging::Picture::fromFile(options.input, &error);
    if (!picture) return failWith(1, error);

    imaging::AdjustmentState state = options.state;
    imaging::Renderer renderer(state);
    if (options.seed) renderer.setRandomSeed(*options.seed);
    const imaging::SliderValues sliders = options.sliders;
    renderer.setSliderSource([sliders] { return sliders; });
    renderer.setPickedPicture(std::make_shared<const imaging::Picture>(std::move(*picture)));

    // Nothing to probe but the service's own host.
    sharing::ShareClient client({options.shareUrl, options.shareUrl.host()});
    QEventLoop loop;
    std::optional<int> result;
    auto finish = [&](int status) {
        if (result) return;
        result = status;
        loop.exit();
    };
    auto upload = [&] {
        client.uploadPicture(renderer, sliders, options.toneSegment, options.description,
                             options.sendRecord);
    };
    QObject::connect(&client, &sharing::ShareClient::registered, &loop, upload);
    QObject::connect(
        &client, &sharing::ShareClient::registrationFailed, &loop,
        [&](int code, const QString& reason) {
            finish(failWith(code, QStringLiteral("registration failed: %1").arg(reason)));
        });
    QObject::connect(&client, &sharing::ShareClient::uploaded, &loop, [&](const QString& link) {
        std::printf("%s\n", qPrintable(link));
        finish(0);
    });
    QObject::connect(&client, &sharing::ShareClient::uploadFailed, &loop,
                     [&](int code, const QString& reason) {
                         finish(failWith(code, QStringLiteral("upload failed: %1").arg(reason)));
                     });
    // Unlike the application, which uploads alongside its first registration,
    // the tool registers first so that even its first picture carries the key.
    if (sharing::ShareClient::isRegistered()) {
        upload();
    } else {
        client.registerUser();
    }
    if (!result) loop.exec();
    return *result;
}
