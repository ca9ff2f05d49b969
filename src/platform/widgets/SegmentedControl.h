#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QHBoxLayout;
class QToolButton;

namespace platform {

// A row of segments of which at most one is selected. Index -1 means no
// selection. In momentary mode the control acts as a set of buttons: a tap
// selects the segment for the duration of valueChanged() and then clears it.
// Only a tap by the user emits valueChanged(); setting the index in code does
// not, so code can mirror a state without re-running the control's action.
class SegmentedControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList segments READ segments WRITE setSegments)
    Q_PROPERTY(int selectedSegmentIndex READ selectedSegmentIndex WRITE setSelectedSegmentIndex)
    Q_PROPERTY(bool momentary READ isMomentary WRITE setMomentary)

public:
    static constexpr int noSegment = -1;

    explicit SegmentedControl(QWidget* parent = nullptr);

    QStringList segments() const { return titles_; }
    void setSegments(const QStringList& titles);
    int numberOfSegments() const { return static_cast<int>(titles_.size()); }

    int selectedSegmentIndex() const { return selected_; }
    void setSelectedSegmentIndex(int index);

    bool isMomentary() const { return momentary_; }
    void setMomentary(bool momentary);

    // The button that draws a segment; what a tap lands on.
    QToolButton* segmentButton(int index) const;

signals:
    void valueChanged();
    // A tap on the segment that was already selected (no valueChanged()).
    void selectedSegmentTappedAgain(int index);

private:
    void onSegmentTapped(int index);
    void showSelection();

    QHBoxLayout* layout_;
    QButtonGroup* group_;
    QStringList titles_;
    int selected_ = noSegment;
    bool momentary_ = false;
};

}  // namespace platform
