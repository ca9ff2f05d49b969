#include "ProgressBar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kBarWidth = 30;

QString size(qint64 bytes) {
    const double value = static_cast<double>(std::max<qint64>(bytes, 0));
    constexpr double kKiB = 1024.0;
    if (value >= kKiB * kKiB * kKiB) {
        return QStringLiteral("%1 GiB").arg(value / (kKiB * kKiB * kKiB), 0, 'f', 2);
    }
    if (value >= kKiB * kKiB) return QStringLiteral("%1 MiB").arg(value / (kKiB * kKiB), 0, 'f', 1);
    if (value >= kKiB) return QStringLiteral("%1 KiB").arg(value / kKiB, 0, 'f', 1);
    return QStringLiteral("%1 B").arg(bytes);
}

}  // namespace

// One direction of the transfer: what the request reports for its upload or its download.
class ProgressBar::Side : public http::ProgressDelegate {
public:
    explicit Side(std::function<void()> changed) : changed_(std::move(changed)) {}

    void setProgress(float value) override {
        if (!std::isfinite(value)) return;
        fraction = std::clamp(value, 0.0f, 1.0f);
        if (figures) {
            const auto [soFar, all] = figures();
            done = static_cast<qint64>(soFar);
            total = static_cast<qint64>(all);
            moving = moving || soFar > 0;
        }
        changed_();
    }
    void requestDidSendBytes(const http::HTTPRequestPtr&, qint64 bytes) override { count(bytes); }
    void requestDidReceiveBytes(const http::HTTPRequestPtr&, qint64 bytes) override {
        count(bytes);
    }
    void requestIncrementUploadSizeBy(const http::HTTPRequestPtr&, qint64 size) override {
        total += size;
    }
    void requestIncrementDownloadSizeBy(const http::HTTPRequestPtr&, qint64 size) override {
        total += size;
    }

    ProgressBar::Figures figures;
    qint64 done = 0;
    qint64 total = 0;
    float fraction = 0;
    bool moving = false;

private:
    void count(qint64 bytes) {
        done += bytes;
        moving = moving || bytes != 0;
    }
    std::function<void()> changed_;
};

ProgressBar::ProgressBar()
    : upload_(std::make_shared<Side>([this] { draw(); })),
      download_(std::make_shared<Side>([this] { draw(); })) {}

ProgressBar::~ProgressBar() { finish(); }

std::shared_ptr<http::ProgressDelegate> ProgressBar::uploadReceiver() const { return upload_; }

std::shared_ptr<http::ProgressDelegate> ProgressBar::downloadReceiver() const { return download_; }

void ProgressBar::takeFiguresFrom(Figures upload, Figures download) {
    upload_->figures = std::move(upload);
    download_->figures = std::move(download);
}

void ProgressBar::draw() {
    const bool uploading = upload_->moving && !download_->moving;
    const Side& side = uploading ? *upload_ : *download_;
    if (!side.moving) return;
    const int filled = static_cast<int>(std::lround(side.fraction * kBarWidth));
    QString line = QStringLiteral("\r%1 [%2%3] %4%  %5")
                       .arg(uploading ? QStringLiteral("up  ") : QStringLiteral("down"))
                       .arg(QString(filled, QLatin1Char('#')))
                       .arg(QString(kBarWidth - filled, QLatin1Char('-')))
                       .arg(static_cast<int>(std::floor(side.fraction * 100.0f)), 3)
                       .arg(size(side.done));
    if (side.total > 0) line += QStringLiteral(" of %1").arg(size(side.total));
    // A shorter line than the last one leaves no trace of the longer one.
    const int width = static_cast<int>(line.size());
    if (width < lastWidth_) line += QString(lastWidth_ - width, QLatin1Char(' '));
    lastWidth_ = width;
    std::fputs(line.toUtf8().constData(), stderr);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!drawn_) return;
    std::fputs("\n", stderr);
    drawn_ = false;
}
