#include "sharing/AdjustmentRecord.h"

#include <cstdio>

namespace sharing {

namespace {

QString filterName(int filterType) {
    switch (filterType) {
        case 1:
            return QStringLiteral("Red");
        case 2:
            return QStringLiteral("Green");
        case 3:
            return QStringLiteral("Blue");
        case 4:
            return QStringLiteral("Cyan");
        case 5:
            return QStringLiteral("Magenta");
        case 6:
            return QStringLiteral("Yellow");
        default:
            return QString();
    }
}

QString toneName(int segment) {
    switch (segment) {
        case 0:
            return QStringLiteral("B&W");
        case 1:
            return QStringLiteral("Sepia");
        case 2:
            return QStringLiteral("Antique");
        case 3:
            return QStringLiteral("Custom");
        default:
            return QString();
    }
}

}  // namespace

QString floatText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", double(value));
    return QString::fromLatin1(text);
}

QString adjustmentRecord(const imaging::SliderValues& sliders,
                         const imaging::AdjustmentState& state, int toneSegment) {
    QString record;
    record.reserve(400);
    auto element = [&](const char* tag, const QString& value) {
        record += QLatin1Char('<') + QLatin1String(tag) + QLatin1Char('>') + value +
                  QLatin1String("</") + QLatin1String(tag) + QLatin1Char('>');
    };
    auto integer = [](int v) { return QString::number(v); };
    element("LSI", floatText(sliders.slider1));
    element("DSI", floatText(sliders.slider2));
    element("FIL", filterName(state.filterType));
    element("TRL", floatText(sliders.sliderR));
    element("TGL", floatText(sliders.sliderG));
    element("TBL", floatText(sliders.sliderB));
    element("TRS", floatText(sliders.sliderR2));
    element("TGS", floatText(sliders.sliderG2));
    element("TBS", floatText(sliders.sliderB2));
    element("EXP", integer(state.exposureValue));
    element("MAL", integer(state.alphaValue));
    element("NOI", integer(state.noiseValue));
    element("QUA", integer(state.quantValue));
    element("INV", integer(state.inverseValue));
    element("VIG", integer(state.vigRadius));
    element("COL", toneName(toneSegment));
    element("COR", integer(state.tintR));
    element("COG", integer(state.tintG));
    element("COB", integer(state.tintB));
    return record;
}

}  // namespace sharing
