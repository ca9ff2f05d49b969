// Interface kinds read from a sysfs tree made by the test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/InterfaceClassifier.h"
#include "support/Files.h"

using platform::InterfaceClassifier;
using platform::InterfaceKind;

namespace {

void write(const QString& path, const QByteArray& data) {
    ASSERT_TRUE(testfiles::writeFile(path, data));
}

TEST(InterfaceClassifier, KindsFromTheTree) {
    struct Row {
        const char* name;
        QByteArray uevent;     // null: no uevent file
        QByteArray ifindex;    // null: no ifindex file
        const char* extraDir;  // a folder the entry also has, or none
        int askedIndex;
        InterfaceKind kind;
    };
    const Row rows[] = {
        {"wwan0", "DEVTYPE=wwan\nINTERFACE=wwan0\n", "7\n", nullptr, 7, InterfaceKind::WWAN},
        {"usb0", "INTERFACE=usb0\nDEVTYPE=wwan", "3", nullptr, 3, InterfaceKind::WWAN},
        {"wlan0", "DEVTYPE=wlan\n", "4\n", nullptr, 4, InterfaceKind::WiFi},
        {"wlp2s0", "INTERFACE=wlp2s0\n", "5\n", "wireless", 5, InterfaceKind::WiFi},
        {"wlx1", "INTERFACE=wlx1\n", "6\n", "phy80211", 6, InterfaceKind::WiFi},
        {"eth0", "INTERFACE=eth0\n", "2\n", nullptr, 2, InterfaceKind::Other},
        {"br0", "DEVTYPE=bridge\n", "8\n", nullptr, 8, InterfaceKind::Other},
        // The same name in another network namespace: another interface.
        {"wwan1", "DEVTYPE=wwan\n", "9\n", nullptr, 10, InterfaceKind::Other},
        {"wwan2", "DEVTYPE=wwan\n", {}, nullptr, 11, InterfaceKind::Other},
        {"wwan3", "DEVTYPE=wwan\n", "x\n", nullptr, 0, InterfaceKind::Other},
        {"wlan9", {}, "12\n", nullptr, 12, InterfaceKind::Other},
    };
    QTemporaryDir tree;
    for (const Row& row : rows) {
        const QString entry = tree.path() + "/class/net/" + row.name;
        ASSERT_TRUE(QDir().mkpath(entry));
        if (!row.uevent.isNull()) write(entry + "/uevent", row.uevent);
        if (!row.ifindex.isNull()) write(entry + "/ifindex", row.ifindex);
        if (row.extraDir) {
            ASSERT_TRUE(QDir().mkpath(entry + "/" + row.extraDir));
        }
    }
    const InterfaceClassifier classifier(tree.path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(classifier.classify(row.name, row.askedIndex), row.kind);
    }
    EXPECT_EQ(classifier.classify("missing0", 1), InterfaceKind::Other);
}

TEST(InterfaceClassifier, NamesCannotLeaveTheTree) {
    QTemporaryDir tree;
    // A wwan entry one level up, where "../wwan" would lead from class/net.
    ASSERT_TRUE(QDir().mkpath(tree.path() + "/class/wwan"));
    ASSERT_TRUE(QDir().mkpath(tree.path() + "/class/net"));
    write(tree.path() + "/class/wwan/uevent", "DEVTYPE=wwan\n");
    write(tree.path() + "/class/wwan/ifindex", "5\n");
    write(tree.path() + "/class/uevent", "DEVTYPE=wwan\n");
    write(tree.path() + "/class/ifindex", "5\n");
    const InterfaceClassifier classifier(tree.path());
    for (const char* name : {"../wwan", "..", ".", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(classifier.classify(name, 5), InterfaceKind::Other);
    }
}

}  // namespace
