#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;

namespace platform {
class ActivityIndicator;
class SegmentedControl;
class Switch;
}  // namespace platform

namespace panels {

// The share panel: the user describes the picture, chooses whether the
// adjustments go along and asks for an upload by writing the request into
// the defaults (Share and activate raised); the main screen's poll starts
// the upload. The panel then checks once a second for the answer and shows
// the short link with its copy and open buttons, or the failure and its
// reason with the input controls back for another try.
class ShareView : public QWidget {
    Q_OBJECT

public:
    explicit ShareView(QWidget* parent = nullptr);
    ~ShareView() override;

    void SharePicture();
    void countDown3();
    void CopyLink();
    void OpenLink();

    // The one answer check of the process, or null when none runs.
    static QTimer* shareCheckTimer();

    QLabel* note;
    QLabel* commentLabel;
    QPlainTextEdit* comment;
    QLabel* adjustmentsLabel;
    platform::Switch* adjustments;
    platform::SegmentedControl* ShareButton;
    platform::ActivityIndicator* uploading;
    QLineEdit* output;
    platform::SegmentedControl* copyLinkButton;
    platform::SegmentedControl* openLinkButton;

private:
    void setInputVisible(bool visible);
    void stopShareCheck();
};

}  // namespace panels
