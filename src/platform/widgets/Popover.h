#pragma once

#include <QFrame>
#include <QList>
#include <QPointer>

namespace platform {

// A floating panel inside a window, shown next to the control it belongs to.
// Only one popover is visible at a time: presenting one dismisses the other.
// A tap outside the popover dismisses it and is not passed on, except a tap on
// one of the passthrough widgets (such as a toolbar), which reaches its target
// while the popover stays up; that target decides what to do with it. Escape
// dismisses the popover too. While shown, it stays above everything else in
// its host, also above widgets raised or added later.
class Popover : public QFrame {
    Q_OBJECT

public:
    // The content becomes a child of the popover; host is the view it floats over.
    Popover(QWidget* content, QWidget* host);
    ~Popover() override;

    QWidget* content() const { return content_; }

    void setContentSize(const QSize& size);
    void setPassthroughWidgets(const QList<QWidget*>& widgets);

    // Shows the popover beside rect (in host coordinates), inside the host.
    void presentFromRect(const QRect& rect);
    void presentFromWidget(QWidget* anchor);
    void dismiss();

    bool isPopoverVisible() const { return isVisible(); }

    static Popover* current();

signals:
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isInside(const QWidget* widget) const;

    QWidget* host_;
    QWidget* content_;
    QList<QPointer<QWidget>> passthrough_;
    static QPointer<Popover> current_;
};

}  // namespace platform
