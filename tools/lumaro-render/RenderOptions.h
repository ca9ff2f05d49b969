#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
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

    // Upload instead of writing a file: the sharing service's address, the
    // description, whether the adjustment record goes along, and the tone
    // control's segment the record names (0 black and white .. 3 custom).
    QUrl shareUrl;
    QString description;
    bool sendRecord = true;
    int toneSegment = 0;
};

// Parses the command line (without the program name). Everything not given
// starts at the reset values with all sliders at 0. On a bad argument returns
// nothing and sets error to one line naming it.
std::optional<RenderOptions> parseRenderOptions(const QStringList& arguments, QString* error);

// The usage text printed by --help.
QString renderUsage();
