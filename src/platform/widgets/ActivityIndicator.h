#pragma once

#include <QTimer>
#include <QWidget>

namespace platform {

// A spinning wheel that shows work in progress; hidden while stopped.
class ActivityIndicator : public QWidget {
    Q_OBJECT

public:
    enum class Style { white, whiteLarge, gray };

    explicit ActivityIndicator(Style style = Style::gray, QWidget* parent = nullptr);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style_;
    QTimer timer_;
    int phase_ = 0;
};

}  // namespace platform
