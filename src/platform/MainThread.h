#pragma once

#include <functional>

namespace platform {

// True on the GUI thread (the thread of the QCoreApplication instance).
bool isMainThread();

// Runs fn on the GUI thread: directly when already there (or when there is no
// application object yet), otherwise queued on the application's event loop without waiting.
void runOnMainThread(std::function<void()> fn);

// Runs fn on the GUI thread and waits for it to finish (directly when already there).
void runOnMainThreadAndWait(std::function<void()> fn);

}  // namespace platform
