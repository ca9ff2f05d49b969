#pragma once

#include <QtGlobal>
#include <memory>

namespace http {

class HTTPRequest;
using HTTPRequestPtr = std::shared_ptr<HTTPRequest>;

// What a progress receiver can be told.
enum class ProgressOperation {
    SetProgress,           // a fraction, for an indicator
    DidSendBytes,          // a byte delta of the upload (negative when taken back)
    DidReceiveBytes,       // a byte delta of the download
    IncrementUploadSize,   // a change of the upload's total size
    IncrementDownloadSize  // a change of the download's total size
};

// The upload or download progress receiver of a request: an indicator that takes a fraction,
// a delegate that takes byte counts, or both. A request holds it without owning it. Each
// report reaches it on the GUI thread, and only if it answers the operation at that moment.
class ProgressDelegate {
public:
    virtual ~ProgressDelegate() = default;

    // Whether this receiver takes operation; by default it takes all of them.
    virtual bool answers(ProgressOperation) const { return true; }

    virtual void setProgress(float) {}
    virtual void requestDidSendBytes(const HTTPRequestPtr&, qint64) {}
    virtual void requestDidReceiveBytes(const HTTPRequestPtr&, qint64) {}
    virtual void requestIncrementUploadSizeBy(const HTTPRequestPtr&, qint64) {}
    virtual void requestIncrementDownloadSizeBy(const HTTPRequestPtr&, qint64) {}
};

}  // namespace http
