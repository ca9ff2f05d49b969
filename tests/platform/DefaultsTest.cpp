#include <gtest/gtest.h>

#include "platform/Defaults.h"
#include "support/TempHome.h"

namespace {

TEST(Defaults, ValuesSurviveAReopenIntegersReadAsBooleansAndRemovalForgets) {
    TempHome home;
    const QString path = home.path() + "/d.ini";
    {
        platform::Defaults d(path);
        d.setInteger(1300, "Size");
        d.setBool(true, "Ornaments");
        d.setFloat(0.75, "vig");
        d.setString("a key, with = signs", "PrivateKey");
        d.setInteger(2, "activate");
        d.setBool(true, "Share");
        d.removeObject("Share");
        d.synchronize();
    }
    platform::Defaults d(path);
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_TRUE(d.stringForKey("missing").isEmpty());
    EXPECT_EQ(d.integerForKey("Size"), 1300);
    EXPECT_EQ(d.integerForKey("Ornaments"), 1);
    EXPECT_TRUE(d.boolForKey("activate"));
    EXPECT_DOUBLE_EQ(d.floatForKey("vig"), 0.75);
    EXPECT_EQ(d.stringForKey("PrivateKey"), "a key, with = signs");
    EXPECT_FALSE(d.hasKey("Share"));
}

}  // namespace
