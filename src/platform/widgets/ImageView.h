#pragma once

#include <QImage>
#include <QWidget>

namespace platform {

// Shows a picture centred in the view at its size in points (its pixels over
// its device pixel ratio), scaled down to fit the view when it would not fit;
// never enlarged.
class ImageView : public QWidget {
    Q_OBJECT

public:
    explicit ImageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    const QImage& image() const { return image_; }

    // Where the picture is drawn, in this view's coordinates.
    QRectF displayedRect() const;
    // Drawn size over the picture's size in points (1 when it fits).
    qreal fitScale() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSizeF sizeInPoints() const;

    QImage image_;
};

}  // namespace platform
