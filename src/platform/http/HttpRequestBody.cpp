#include "platform/http/HttpRequestBody.h"

#include <QIODevice>
#include <algorithm>

namespace platform {

HttpRequestBody HttpRequestBody::fromData(const QByteArray& data) {
    HttpRequestBody body;
    body.m_kind = data.isEmpty() ? Kind::None : Kind::Data;
    body.m_data = data;
    body.m_length = data.size();
    return body;
}

HttpRequestBody HttpRequestBody::fromDevice(std::shared_ptr<QIODevice> device, qint64 length) {
    HttpRequestBody body;
    if (!device) return body;
    body.m_kind = Kind::Device;
    if (length < 0 && !device->isSequential()) length = device->size() - device->pos();
    body.m_length = length;
    body.m_device = std::move(device);
    return body;
}

HttpRequestBody HttpRequestBody::fromPull(Pull pull, qint64 length) {
    HttpRequestBody body;
    if (!pull) return body;
    body.m_kind = Kind::Pull;
    body.m_pull = std::move(pull);
    body.m_length = length;
    return body;
}

bool HttpRequestBody::isEmpty() const { return m_kind == Kind::None || m_length == 0; }

qint64 HttpRequestBody::length() const { return m_kind == Kind::None ? 0 : m_length; }

qint64 HttpRequestBody::read(char* buffer, qint64 maxLength) {
    if (m_length >= 0) maxLength = std::min(maxLength, m_length - m_read);
    if (maxLength <= 0) return 0;
    qint64 count = 0;
    switch (m_kind) {
        case Kind::None:
            return 0;
        case Kind::Data:
            count = std::min<qint64>(maxLength, m_data.size() - m_dataOffset);
            std::copy_n(m_data.constData() + m_dataOffset, count, buffer);
            m_dataOffset += count;
            break;
        case Kind::Device:
            count = m_device->read(buffer, maxLength);
            if (count == 0 && m_device->isSequential() && !m_device->atEnd()) return -2;
            break;
        case Kind::Pull:
            count = m_pull(buffer, maxLength);
            break;
    }
    if (count > 0) m_read += count;
    return count;
}

}  // namespace platform
