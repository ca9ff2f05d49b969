#include "platform/FileInputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>

namespace platform {

namespace {
constexpr qint64 kPieceSize = 16384;
}

FileInputStream::FileInputStream(QString path) : path_(std::move(path)) {}

FileInputStream::~FileInputStream() {
    *alive_ = false;
    close();
}

void FileInputStream::open() {
    fd_ = ::open(path_.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        report(FileInputStreamEvent::ErrorOccurred);
        return;
    }
    // Regular files always poll as readable; pipes and devices when they have bytes.
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readable(); });
}

void FileInputStream::readable() {
    pending_.resize(kPieceSize);
    const ssize_t got = ::read(fd_, pending_.data(), static_cast<size_t>(kPieceSize));
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        pending_.clear();
        return;
    }
    pending_.resize(got > 0 ? got : 0);
    if (got < 0) {
        notifier_->setEnabled(false);
        report(FileInputStreamEvent::ErrorOccurred);
    } else if (got == 0) {
        notifier_->setEnabled(false);
        report(FileInputStreamEvent::EndEncountered);
    } else {
        // Quiet until the client has taken the piece.
        notifier_->setEnabled(false);
        report(FileInputStreamEvent::BytesAvailable);
    }
}

qint64 FileInputStream::read(char* buffer, qint64 maxLength) {
    const qint64 count = std::min<qint64>(maxLength, pending_.size());
    std::memcpy(buffer, pending_.constData(), static_cast<size_t>(count));
    pending_.remove(0, count);
    if (pending_.isEmpty() && notifier_) notifier_->setEnabled(true);
    return count;
}

void FileInputStream::close() {
    notifier_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

void FileInputStream::report(FileInputStreamEvent event) {
    // Events arrive from the event loop, never from inside open() or read(), so the client
    // may close or destroy the stream in its handler.
    std::weak_ptr<bool> alive = alive_;
    QMetaObject::invokeMethod(
        QAbstractEventDispatcher::instance(QThread::currentThread()),
        [this, alive, event] {
            if (alive.expired() || !client_) return;
            client_(event);
        },
        Qt::QueuedConnection);
}

}  // namespace platform
