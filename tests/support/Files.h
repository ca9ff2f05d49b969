#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testfiles {

// The whole file, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Answers whether the whole of data was written.
inline bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Bytes that differ from their neighbours and repeat only after a long stretch.
inline QByteArray pattern(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + i / 251) & 0xff);
    return data;
}

}  // namespace testfiles
