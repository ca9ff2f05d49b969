#include "platform/widgets/SegmentedControl.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace platform {

namespace {

const char* const segmentStyle = R"(
QToolButton { border: 1px solid #8a8f98; background: #2b2e33; color: #e8e8e8;
              padding: 3px 8px; }
QToolButton:checked { background: #d9dde3; color: #1d1f22; }
QToolButton:pressed { background: #5b6068; }
QToolButton:disabled { color: #6b6f75; }
)";

}  // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), layout_(new QHBoxLayout(this)), group_(new QButtonGroup(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    // Exclusivity is kept by this class so that "no selection" stays possible.
    group_->setExclusive(false);
    setStyleSheet(segmentStyle);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::onSegmentTapped);
}

void SegmentedControl::setSegments(const QStringList& titles) {
    for (QAbstractButton* button : group_->buttons()) {
        group_->removeButton(button);
        delete button;
    }
    titles_ = titles;
    for (int i = 0; i < titles_.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QStringLiteral("segment%1").arg(i));
        // Titles are plain text: "B&W" must not turn into a keyboard shortcut.
        button->setText(QString(titles_[i]).replace('&', QStringLiteral("&&")));
        button->setCheckable(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFocusPolicy(Qt::NoFocus);
        group_->addButton(button, i);
        layout_->addWidget(button);
    }
    if (selected_ >= numberOfSegments()) selected_ = noSegment;
    showSelection();
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    selected_ = (index >= 0 && index < numberOfSegments()) ? index : noSegment;
    showSelection();
}

void SegmentedControl::setMomentary(bool momentary) {
    momentary_ = momentary;
    if (momentary_) setSelectedSegmentIndex(noSegment);
}

QToolButton* SegmentedControl::segmentButton(int index) const {
    return qobject_cast<QToolButton*>(group_->button(index));
}

void SegmentedControl::onSegmentTapped(int index) {
    // A tap on the segment that is already selected changes nothing; it is
    // reported apart, for segments that open something again.
    if (!momentary_ && index == selected_) {
        showSelection();
        emit selectedSegmentTappedAgain(index);
        return;
    }
    selected_ = index;
    showSelection();
    emit valueChanged();
    if (momentary_) {
        selected_ = noSegment;
        showSelection();
    }
}

void SegmentedControl::showSelection() {
    for (QAbstractButton* button : group_->buttons())
        button->setChecked(group_->id(button) == selected_);
}

}  // namespace platform
