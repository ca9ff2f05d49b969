// Interface kinds read from a sysfs tree made by the test.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/InterfaceClassifier.h"
#include "support/Files.h"

using platform::InterfaceClassifier;
using platform::InterfaceKind;

namespace {

TEST(InterfaceClassifier, KindsFromTheTree) {
    struct Row {
        const char* name;
        QByteArray uevent;     // null: no uevent file
        QByteArray ifindex;    // null: no ifindex file
        const char* extraDir;  // a folder the entry also has, or none
        int askedIndex;
        InterfaceKind kind;
    };
    const QByteArray wwan = "DEVTYPE=wwan\n";
    const Row rows[] = {
        {"wwan0", "DEVTYPE=wwan\nINTERFACE=wwan0\n", "7\n", nullptr, 7, InterfaceKind::WWAN},
        {"usb0", "INTERFACE=usb0\nDEVTYPE=wwan", "3", nullptr, 3, InterfaceKind::WWAN},
        {"wlan0", "DEVTYPE=wlan\n", "4\n", nullptr, 4, InterfaceKind::WiFi},
        {"wlp2s0", "INTERFACE=wlp2s0\n", "5\n", "wireless", 5, InterfaceKind::WiFi},
        {"wlx1", "INTERFACE=wlx1\n", "6\n", "phy80211", 6, InterfaceKind::WiFi},
        {"eth0", "INTERFACE=eth0\n", "2\n", nullptr, 2, InterfaceKind::Other},
        {"br0", "DEVTYPE=bridge\n", "8\n", nullptr, 8, InterfaceKind::Other},
        // The same name in another network namespace: another interface.
        {"wwan1", wwan, "9\n", nullptr, 10, InterfaceKind::Other},
        {"wwan2", wwan, {}, nullptr, 11, InterfaceKind::Other},
        {"wwan3", wwan, "x\n", nullptr, 0, InterfaceKind::Other},
        {"wlan9", {}, "12\n", nullptr, 12, InterfaceKind::Other},
        // Names that would leave class/net for a wwan entry written where they lead.
        {"../wwan", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {"..", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {".", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
        {"", wwan, "5\n", nullptr, 5, InterfaceKind::Other},
    };
    const auto put = [](const QString& path, const QByteArray& data) {
        return data.isNull() || testfiles::writeFile(path, data);
    };
    QTemporaryDir tree;
    for (const Row& row : rows) {
        const QString entry = tree.path() + "/class/net/" + row.name;
        ASSERT_TRUE(QDir().mkpath(entry + "/" + (row.extraDir ? row.extraDir : "")));
        ASSERT_TRUE(put(entry + "/uevent", row.uevent) && put(entry + "/ifindex", row.ifindex));
    }
    const InterfaceClassifier classifier(tree.path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classifier.classify(row.name, row.askedIndex), row.kind);
    }
}

}  // namespace
