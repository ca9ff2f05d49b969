#include "platform/NotificationCenter.h"

#include <QObject>
#include <algorithm>
#include <atomic>

namespace platform {

struct NotificationCenter::Observer {
    ObserverId id = 0;
    QString name;
    const QObject* object = nullptr;
    Handler handler;
    QMetaObject::Connection contextConnection;
    std::atomic<bool> removed = false;
};

NotificationCenter::NotificationCenter() = default;

NotificationCenter::~NotificationCenter() {
    std::lock_guard lock(mutex_);
    for (const auto& observer : observers_) QObject::disconnect(observer->contextConnection);
}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const QString& name,
                                                               const QObject* object,
                                                               Handler handler, QObject* context) {
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->handler = std::move(handler);
    std::lock_guard lock(mutex_);
    observer->id = nextId_++;
    if (context != nullptr) {
        const ObserverId id = observer->id;
        observer->contextConnection =
            QObject::connect(context, &QObject::destroyed, [this, id] { removeObserver(id); });
    }
    observers_.push_back(observer);
    return observer->id;
}

void NotificationCenter::removeObserver(ObserverId id) {
    std::lock_guard lock(mutex_);
    const auto found = std::find_if(observers_.begin(), observers_.end(),
                                    [id](const auto& observer) { return observer->id == id; });
    if (found == observers_.end()) return;
    (*found)->removed = true;
    QObject::disconnect((*found)->contextConnection);
    observers_.erase(found);
}

void NotificationCenter::postNotification(const QString& name, QObject* object) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(mutex_);
        for (const auto& observer : observers_)
            if ((observer->name.isEmpty() || observer->name == name) &&
                (observer->object == nullptr || observer->object == object))
                matching.push_back(observer);
    }
    const Notification notification{name, object};
    for (const auto& observer : matching)
        if (!observer->removed) observer->handler(notification);
}

}  // namespace platform
