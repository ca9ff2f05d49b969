// Who hears a posted notification, and when an observer stops hearing.
#include <gtest/gtest.h>

#include <QObject>

#include "platform/NotificationCenter.h"

using platform::Notification;
using platform::NotificationCenter;

namespace {

TEST(NotificationCenter, ObserversHearTheNamesAndObjectsTheyAskedFor) {
    NotificationCenter center;
    QObject first, second;
    first.setObjectName("first");
    second.setObjectName("second");
    struct Observer {
        QString name;
        const QObject* object;
        QStringList expected, heard;
    };
    std::vector<Observer> observers = {
        {"Changed", nullptr, {"Changed/first", "Changed/second"}, {}},
        {"Changed", &first, {"Changed/first"}, {}},
        {"", nullptr, {"Changed/first", "Changed/second", "Other/second"}, {}},
        {"Other", nullptr, {"Other/second"}, {}},
    };
    for (auto& observer : observers)
        center.addObserver(observer.name, observer.object, [&observer](const Notification& n) {
            observer.heard << n.name + "/" + n.object->objectName();
        });
    center.postNotification("Changed", &first);
    center.postNotification("Changed", &second);
    center.postNotification("Other", &second);
    for (const auto& observer : observers) EXPECT_EQ(observer.heard, observer.expected);
}

TEST(NotificationCenter, RemovedObserversAreNotCalledEvenMidPostAndGoWithTheirContext) {
    NotificationCenter center;
    QStringList calls;
    NotificationCenter::ObserverId second = 0;
    center.addObserver("N", nullptr, [&](const Notification&) {
        calls << "first";
        center.removeObserver(second);
    });
    second = center.addObserver("N", nullptr, [&](const Notification&) { calls << "second"; });
    auto context = std::make_unique<QObject>();
    const auto third = center.addObserver(
        "N", nullptr, [&](const Notification&) { calls << "third"; }, context.get());
    center.postNotification("N", nullptr);
    context.reset();
    center.removeObserver(third);  // already gone with its context: harmless
    center.postNotification("N", nullptr);
    EXPECT_EQ(calls, (QStringList{"first", "third", "first"}));
}

}  // namespace
