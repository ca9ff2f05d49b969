#pragma once

#include <QMetaObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QObject;

namespace platform {

struct Notification {
    QString name;
    QObject* object = nullptr;  // the sender the notification is about; may be none
};

// Delivers named notifications to the observers registered for them, synchronously
// on the thread that posts. Observers may be added and removed on any thread, also
// from inside a handler; a removed observer is not called again, even by a post
// already under way on the same thread.
class NotificationCenter {
public:
    using ObserverId = quint64;
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // Calls handler for each later notification named `name` (any name when empty) about
    // `object` (any object when none). With a context, the observer is removed when the
    // context is destroyed.
    ObserverId addObserver(const QString& name, const QObject* object, Handler handler,
                           QObject* context = nullptr);
    void removeObserver(ObserverId id);

    // Calls the matching observers in the order they were added.
    void postNotification(const QString& name, QObject* object);

private:
    struct Observer;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Observer>> observers_;
    ObserverId nextId_ = 1;
};

}  // namespace platform
