#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <tuple>

#include "sharing/AdjustmentRecord.h"

namespace sharing {
namespace {

// The state after start, with the filter and, when given, the nine integer settings.
imaging::AdjustmentState stateWith(int filter, std::optional<std::array<int, 9>> v = {}) {
    imaging::AdjustmentState s;
    imaging::resetState(s);
    s.filterType = filter;
    if (v) {
        std::tie(s.exposureValue, s.alphaValue, s.noiseValue, s.quantValue, s.inverseValue,
                 s.vigRadius, s.tintR, s.tintG, s.tintB) = std::tuple_cat(*v);
    }
    return s;
}

TEST(AdjustmentRecordTest, WritesAllNineteenElementsInOrderByteForByte) {
    struct Case {
        imaging::SliderValues sliders;
        imaging::AdjustmentState state;
        int tone;
        const char* record;
    };
    const Case cases[] = {
        {{12.5f, 0, 0, 0, 0, 0, 0, 0},
         stateWith(0),
         0,
         "<LSI>12.5</LSI><DSI>0</DSI><FIL></FIL><TRL>0</TRL><TGL>0</TGL><TBL>0</TBL>"
         "<TRS>0</TRS><TGS>0</TGS><TBS>0</TBS><EXP>100</EXP><MAL>100</MAL><NOI>0</NOI>"
         "<QUA>1</QUA><INV>0</INV><VIG>20</VIG><COL>B&W</COL><COR>255</COR><COG>255</COG>"
         "<COB>255</COB>"},
        {{-7.25f, 12345678.0f, 1.0f / 3.0f, 2.0f, -0.5f, 9.999999f, 0.1f, 1234567.0f},
         stateWith(5, {{-3, 40, 7, 12, 1, 150, 10, 0, -1}}),
         3,
         "<LSI>-7.25</LSI><DSI>1.234568e+07</DSI><FIL>Magenta</FIL><TRL>0.3333333</TRL>"
         "<TGL>2</TGL><TBL>-0.5</TBL><TRS>9.999999</TRS><TGS>0.1</TGS><TBS>1234567</TBS>"
         "<EXP>-3</EXP><MAL>40</MAL><NOI>7</NOI><QUA>12</QUA><INV>1</INV><VIG>150</VIG>"
         "<COL>Custom</COL><COR>10</COR><COG>0</COG><COB>-1</COB>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        EXPECT_EQ(adjustmentRecord(c.sliders, c.state, c.tone), c.record);
    }

    const char* filters[] = {"", "Red", "Green", "Blue", "Cyan", "Magenta", "Yellow", ""};
    const char* tones[] = {"B&W", "Sepia", "Antique", "Custom", "", "", "", ""};
    for (int code = -1; code < 8; ++code) {
        SCOPED_TRACE(code);
        const QString record = adjustmentRecord({}, stateWith(code), code);
        EXPECT_TRUE(record.contains(QString("<FIL>%1</FIL>").arg(code < 0 ? "" : filters[code])));
        EXPECT_TRUE(record.contains(QString("<COL>%1</COL>").arg(code < 0 ? "" : tones[code])));
    }
}

}  // namespace
}  // namespace sharing
