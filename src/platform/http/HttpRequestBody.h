#pragma once

#include <QByteArray>
#include <functional>
#include <memory>

class QIODevice;

namespace platform {

// What the stream sends after the request head. The stream reads it piece by piece as the
// socket drains, so a body on disk is never loaded whole into memory.
class HttpRequestBody {
public:
    // Fills buffer with up to maxLength bytes: answers the count, 0 at the end of the body,
    // or -1 when the source failed.
    using Pull = std::function<qint64(char* buffer, qint64 maxLength)>;

    HttpRequestBody() = default;  // no body

    static HttpRequestBody fromData(const QByteArray& data);
    // An open, readable device the caller keeps: read from its current position on the
    // stream's thread and never touched by anyone else while the stream runs. length is the
    // number of bytes to send, or -1 to send until the device ends (its size() for a file).
    static HttpRequestBody fromDevice(std::shared_ptr<QIODevice> device, qint64 length = -1);
    // A pull source of length bytes (-1 when unknown: sent chunked over HTTP/1.1).
    static HttpRequestBody fromPull(Pull pull, qint64 length);

    bool isEmpty() const;
    // True when there is no source at all (as opposed to a source that may give 0 bytes).
    bool isNone() const { return m_kind == Kind::None; }
    // The number of bytes to send, -1 when the source does not know.
    qint64 length() const;

    // Reads the next piece (see Pull). Answers -2 when a sequential device has nothing yet
    // but has not ended.
    qint64 read(char* buffer, qint64 maxLength);
    QIODevice* device() const { return m_device.get(); }

private:
    enum class Kind { None, Data, Device, Pull };
    Kind m_kind = Kind::None;
    QByteArray m_data;
    qint64 m_dataOffset = 0;
    std::shared_ptr<QIODevice> m_device;
    Pull m_pull;
    qint64 m_length = 0;
    qint64 m_read = 0;
};

}  // namespace platform
