#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

enum class FileInputStreamEvent { BytesAvailable, ErrorOccurred, EndEncountered };

// A file read a piece at a time on the event loop of the thread that opens it, so a slow
// source (a pipe, a device) never blocks that thread: the client hears when bytes are
// there, when the end is reached and when reading failed. The file is opened without
// waiting, so a pipe with no writer does not hang the caller either.
class FileInputStream {
public:
    using Client = std::function<void(FileInputStreamEvent)>;

    explicit FileInputStream(QString path);
    ~FileInputStream();
    FileInputStream(const FileInputStream&) = delete;
    FileInputStream& operator=(const FileInputStream&) = delete;

    void setClient(Client client) { client_ = std::move(client); }
    // Starts watching the file on the calling thread; a file that cannot be opened reports
    // an error from the event loop, as later failures do.
    void open();
    // Takes up to maxLength of the bytes that arrived; answers how many.
    qint64 read(char* buffer, qint64 maxLength);
    void close();

private:
    void readable();
    void report(FileInputStreamEvent event);

    QString path_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray pending_;
    Client client_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace platform
