#pragma once

#include <QString>

namespace platform {

// What kind of link a network interface is, as the kernel describes it under
// <sysfs>/class/net/<name>/.
enum class InterfaceKind { Other, WiFi, WWAN };

// Reads the kind of an interface from a sysfs tree: /sys normally, a tree of
// their own in tests. An interface whose entry is missing, or whose entry
// belongs to another interface of the same name (sysfs shows the network
// namespace it was mounted in), counts as Other.
class InterfaceClassifier {
public:
    explicit InterfaceClassifier(QString sysfsRoot = QStringLiteral("/sys"));

    InterfaceKind classify(const QString& name, int index) const;

    const QString& sysfsRoot() const { return root_; }

private:
    QString root_;
};

}  // namespace platform
