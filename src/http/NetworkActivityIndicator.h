#pragma once

#include <functional>

namespace http {

// The "network in use" sign of the application: a small spinner that the window may show.
// The engine only says when it should be visible; the application decides how it looks by
// setting a handler. Everything here runs on the GUI thread.
class NetworkActivityIndicator {
public:
    using VisibilityHandler = std::function<void(bool visible)>;

    // Called with every change of visibility; none by default.
    static void setVisibilityHandler(VisibilityHandler handler);
    static bool isVisible();
    static void setVisible(bool visible);
};

}  // namespace http
