#include "ui/SharpPixmaps.h"

#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>

namespace ui {

void sharpenPixmaps(QWidget* root, qreal devicePixelRatio) {
    if (devicePixelRatio <= 1.0) return;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        const QPixmap shown = label->pixmap();
        if (shown.isNull()) continue;
        const QString source = QStringLiteral(":/ui/images/%1.svg").arg(label->objectName());
        if (!QFile::exists(source)) continue;
        const QSizeF logical = shown.deviceIndependentSize();
        QImageReader reader(source);
        reader.setScaledSize((logical * devicePixelRatio).toSize());
        QImage sharp = reader.read();
        if (sharp.isNull()) continue;
        sharp.setDevicePixelRatio(devicePixelRatio);
        label->setPixmap(QPixmap::fromImage(std::move(sharp)));
    }
}

}  // namespace ui
