#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "imaging/AdjustmentState.h"
#include "imaging/SliderValues.h"

// What one run of lumaro-render is asked to do.
struct RenderOptions {
    QString input;
    QString output;
    bool exportRender = false;
    bool keepMetadata = true;
    imaging::AdjustmentState state;
    imaging::SliderValues sliders;
    std::optional<std::uint64_t> seed;
    int quality = 95;
};

// Parses the command line (without the program name). Everything not given
// starts at the reset values with all sliders at 0. On a bad argument returns
// nothing and sets error to one line naming it.
std::optional<RenderOptions> parseRenderOptions(const QStringList& arguments, QString* error);

// The usage text printed by --help.
QString renderUsage();
