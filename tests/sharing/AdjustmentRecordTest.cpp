#include <gtest/gtest.h>

#include <QRegularExpression>

#include "sharing/AdjustmentRecord.h"
#include "sharing/UploadSize.h"

namespace sharing {
namespace {

imaging::AdjustmentState defaultsAfterStart() {
    imaging::AdjustmentState state;
    imaging::resetState(state);
    return state;
}

TEST(AdjustmentRecordTest, WritesAllNineteenElementsInOrderByteForByte) {
    imaging::SliderValues sliders;
    sliders.slider1 = 12.5f;
    const QString record = adjustmentRecord(sliders, defaultsAfterStart(), 0);
    EXPECT_EQ(record,
              "<LSI>12.5</LSI><DSI>0</DSI><FIL></FIL><TRL>0</TRL><TGL>0</TGL><TBL>0</TBL>"
              "<TRS>0</TRS><TGS>0</TGS><TBS>0</TBS><EXP>100</EXP><MAL>100</MAL><NOI>0</NOI>"
              "<QUA>1</QUA><INV>0</INV><VIG>20</VIG><COL>B&W</COL><COR>255</COR><COG>255</COG>"
              "<COB>255</COB>");

    imaging::AdjustmentState state = defaultsAfterStart();
    state.filterType = 5;
    state.exposureValue = -3;
    state.alphaValue = 40;
    state.noiseValue = 7;
    state.quantValue = 12;
    state.inverseValue = 1;
    state.vigRadius = 150;
    state.tintR = 10;
    state.tintG = 0;
    state.tintB = -1;
    sliders = {-7.25f, 100.0f, 1.0f / 3.0f, 2.0f, -0.5f, 9.999999f, 0.1f, 1234567.0f};
    EXPECT_EQ(adjustmentRecord(sliders, state, 3),
              "<LSI>-7.25</LSI><DSI>100</DSI><FIL>Magenta</FIL><TRL>0.3333333</TRL><TGL>2</TGL>"
              "<TBL>-0.5</TBL><TRS>9.999999</TRS><TGS>0.1</TGS><TBS>1234567</TBS><EXP>-3</EXP>"
              "<MAL>40</MAL><NOI>7</NOI><QUA>12</QUA><INV>1</INV><VIG>150</VIG>"
              "<COL>Custom</COL><COR>10</COR><COG>0</COG><COB>-1</COB>");
}

TEST(AdjustmentRecordTest, NamesFiltersAndTonesByCodeAndLeavesOthersEmpty) {
    const QRegularExpression fil("<FIL>(.*)</FIL>");
    const QRegularExpression col("<COL>(.*)</COL>");
    const std::pair<int, const char*> filters[] = {{0, ""},       {1, "Red"},  {2, "Green"},
                                                   {3, "Blue"},   {4, "Cyan"}, {5, "Magenta"},
                                                   {6, "Yellow"}, {7, ""},     {-1, ""}};
    for (const auto& [code, name] : filters) {
        SCOPED_TRACE(code);
        imaging::AdjustmentState state = defaultsAfterStart();
        state.filterType = code;
        const QString record = adjustmentRecord({}, state, 0);
        EXPECT_EQ(fil.match(record).captured(1), name);
        EXPECT_EQ(record.count(QRegularExpression("<[A-Z]{3}>")), 19);
    }
    const std::pair<int, const char*> tones[] = {{0, "B&W"},    {1, "Sepia"}, {2, "Antique"},
                                                 {3, "Custom"}, {-1, ""},     {4, ""}};
    for (const auto& [segment, name] : tones) {
        SCOPED_TRACE(segment);
        EXPECT_EQ(col.match(adjustmentRecord({}, defaultsAfterStart(), segment)).captured(1), name);
    }
}

TEST(AdjustmentRecordTest, FloatsTakeTheGeneralFormWithSevenSignificantDigits) {
    const std::pair<float, const char*> cases[] = {
        {12.5f, "12.5"},         {0.0f, "0"},        {100.0f, "100"},
        {-5.0f, "-5"},           {5.3f, "5.3"},      {-7.25f, "-7.25"},
        {1.0f / 3, "0.3333333"}, {2.456f, "2.456"},  {12345678.0f, "1.234568e+07"},
        {0.0001f, "0.0001"},     {0.00001f, "1e-05"}};
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(floatText(value), text);
    }
}

TEST(UploadSizeTest, ReducesTheLongerSideTo800AndTruncates) {
    struct Case {
        float w, h;
        float reducedW, reducedH;
        int pixelsW, pixelsH;
    };
    for (const Case& c :
         {Case{1000, 500, 800, 400, 800, 400}, Case{600, 900, 533.33333f, 800, 533, 800},
          Case{700, 700, 700, 700, 700, 700}, Case{1000, 1000, 800, 800, 800, 800},
          Case{800, 800, 800, 800, 800, 800}, Case{801, 3, 800, 2.9962547f, 800, 2},
          Case{4032, 3024, 800, 600, 800, 600}, Case{3024, 4032, 600, 800, 600, 800},
          Case{20000, 10, 800, 0.4f, 800, 1}, Case{0, 0, 0, 0, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        const UploadSize size = reducedUploadSize(c.w, c.h);
        EXPECT_FLOAT_EQ(size.width, c.reducedW);
        EXPECT_FLOAT_EQ(size.height, c.reducedH);
        EXPECT_EQ(size.pixels(), QSize(c.pixelsW, c.pixelsH));
    }
}

}  // namespace
}  // namespace sharing
