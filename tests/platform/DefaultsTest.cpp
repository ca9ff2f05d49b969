#include <gtest/gtest.h>

#include <QFileInfo>

#include "platform/Defaults.h"
#include "support/TempHome.h"

namespace {

TEST(Defaults, ValuesSurviveAReopen) {
    TempHome home;
    const QString path = home.path() + "/d.ini";
    {
        platform::Defaults d(path);
        d.setInteger(1300, "Size");
        d.setBool(true, "Ornaments");
        d.setFloat(0.75, "vig");
        d.setString("a key, with = signs", "PrivateKey");
        d.synchronize();
    }
    platform::Defaults d(path);
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_TRUE(d.stringForKey("missing").isEmpty());
    EXPECT_EQ(d.integerForKey("Size"), 1300);
    EXPECT_TRUE(d.boolForKey("Ornaments"));
    EXPECT_DOUBLE_EQ(d.floatForKey("vig"), 0.75);
    EXPECT_EQ(d.stringForKey("PrivateKey"), "a key, with = signs");
}

TEST(Defaults, IntegersReadAsBooleansAndRemovalForgets) {
    TempHome home;
    platform::Defaults d(home.path() + "/d.ini");
    d.setInteger(2, "activate");
    EXPECT_TRUE(d.boolForKey("activate"));
    d.setInteger(0, "activate");
    EXPECT_FALSE(d.boolForKey("activate"));
    d.setBool(true, "Share");
    EXPECT_EQ(d.integerForKey("Share"), 1);
    d.removeObject("Share");
    EXPECT_FALSE(d.hasKey("Share"));
}

}  // namespace
