#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <utility>

#include "http/ProgressDelegate.h"

// A one-line progress bar on standard error, driven by the reports of one request: the
// fractions its indicators get and the byte counts its progress delegates get. The upload
// is shown while it runs, the download afterwards.
class ProgressBar {
public:
    ProgressBar();
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // The receivers to set as the request's upload and download progress delegates.
    std::shared_ptr<http::ProgressDelegate> uploadReceiver() const;
    std::shared_ptr<http::ProgressDelegate> downloadReceiver() const;

    // Byte figures (done, total) read when an indicator is set, for a sender that reports
    // fractions only (a request queue).
    using Figures = std::function<std::pair<quint64, quint64>()>;
    void takeFiguresFrom(Figures upload, Figures download);

    // Ends the line, when one was drawn.
    void finish();

private:
    class Side;
    void draw();

    std::shared_ptr<Side> upload_;
    std::shared_ptr<Side> download_;
    bool drawn_ = false;
    int lastWidth_ = 0;
};
