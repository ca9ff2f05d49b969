#include "platform/widgets/Popover.h"

#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <algorithm>

namespace platform {

QPointer<Popover> Popover::current_;

namespace {
constexpr int border = 6;
constexpr int gap = 4;
}  // namespace

Popover::Popover(QWidget* content, QWidget* host) : QFrame(host), host_(host), content_(content) {
    setObjectName(QStringLiteral("popover"));
    setStyleSheet(QStringLiteral(
        "#popover { background: #f2f2f4; border: 1px solid #9ea3aa; border-radius: 10px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(24);
    shadow->setOffset(0, 4);
    shadow->setColor(QColor(0, 0, 0, 140));
    setGraphicsEffect(shadow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(border, border, border, border);
    layout->addWidget(content_);
    hide();
}

Popover::~Popover() { qApp->removeEventFilter(this); }

Popover* Popover::current() { return current_; }

void Popover::setContentSize(const QSize& size) {
    content_->setFixedSize(size);
    adjustSize();
}

void Popover::setPassthroughWidgets(const QList<QWidget*>& widgets) {
    passthrough_.clear();
    for (QWidget* widget : widgets) passthrough_.append(widget);
}

void Popover::presentFromWidget(QWidget* anchor) {
    presentFromRect(QRect(anchor->mapTo(host_, QPoint(0, 0)), anchor->size()));
}

void Popover::presentFromRect(const QRect& rect) {
    if (current_ && current_ != this) current_->dismiss();
    current_ = this;
    // Below the anchor when there is room, else above it; kept inside the host.
    const QRect bounds = host_->rect();
    int y = rect.bottom() + gap;
    if (y + height() > bounds.bottom() && rect.top() - gap - height() >= bounds.top())
        y = rect.top() - gap - height();
    int x = rect.center().x() - width() / 2;
    x = std::clamp(x, bounds.left(), std::max(bounds.left(), bounds.right() - width()));
    y = std::clamp(y, bounds.top(), std::max(bounds.top(), bounds.bottom() - height()));
    move(x, y);
    show();
    raise();
    qApp->installEventFilter(this);
}

void Popover::dismiss() {
    qApp->removeEventFilter(this);
    if (!isVisible()) return;
    hide();
    if (current_ == this) current_ = nullptr;
    emit dismissed();
}

bool Popover::isInside(const QWidget* widget) const {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w == this) return true;
        for (const QPointer<QWidget>& through : passthrough_)
            if (w == through) return true;
    }
    return false;
}

bool Popover::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !isVisible()) return false;
    switch (event->type()) {
        case QEvent::ChildAdded:
        case QEvent::ZOrderChange:
            // Nothing in the host is drawn over an open popover: a widget
            // added to it or raised in it goes below the popover again.
            if (widget != this && (widget == host_ || widget->parentWidget() == host_)) raise();
            return false;
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape ||
                widget->window() != host_->window())
                return false;
            dismiss();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::TouchBegin:
            if (widget->window() != host_->window() || isInside(widget)) return false;
            dismiss();
            return true;
        default:
            return false;
    }
}

}  // namespace platform
