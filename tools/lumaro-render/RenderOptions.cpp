#include "RenderOptions.h"

#include <cmath>
#include <functional>
#include <map>

#include "imaging/PanelSettings.h"

namespace {

constexpr int kDefaultOutputSize = 650;

class Parser {
public:
    Parser(const QStringList& args, QString* error) : args_(args), error_(error) {}

    std::optional<RenderOptions> run();

private:
    bool fail(const QString& message) {
        if (error_) *error_ = message;
        return false;
    }
    bool takeValue(const QString& option, QString& value) {
        if (next_ >= args_.size()) return fail(QStringLiteral("%1 needs a value").arg(option));
        value = args_[next_++];
        return true;
    }
    bool integer(const QString& option, int low, int high, int& out) {
        QString text;
        if (!takeValue(option, text)) return false;
        bool ok = false;
        const int v = text.toInt(&ok);
        if (!ok || v < low || v > high) {
            return fail(QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                            .arg(option)
                            .arg(low)
                            .arg(high)
                            .arg(text));
        }
        out = v;
        return true;
    }
    bool number(const QString& option, const QString& text, float& out) {
        bool ok = false;
        const float v = text.toFloat(&ok);
        if (!ok || !std::isfinite(v)) {
            return fail(QStringLiteral("%1 takes a number, not \"%2\"").arg(option, text));
        }
        out = v;
        return true;
    }
    bool triple(const QString& option, float& a, float& b, float& c) {
        QString text;
        if (!takeValue(option, text)) return false;
        const QStringList parts = text.split(QLatin1Char(','));
        if (parts.size() != 3) {
            return fail(
                QStringLiteral("%1 takes three numbers R,G,B, not \"%2\"").arg(option, text));
        }
        return number(option, parts[0], a) && number(option, parts[1], b) &&
               number(option, parts[2], c);
    }
    bool choice(const QString& option, const QStringList& names, int& index) {
        QString text;
        if (!takeValue(option, text)) return false;
        index = int(names.indexOf(text));
        if (index < 0) {
            return fail(QStringLiteral("%1 takes one of %2, not \"%3\"")
                            .arg(option, names.join(QLatin1Char('|')), text));
        }
        return true;
    }
    bool option(const QString& name);

    const QStringList& args_;
    QString* error_;
    qsizetype next_ = 0;
    RenderOptions o_;
    bool toneGiven_ = false;
    bool tintGiven_ = false;
};

bool Parser::option(const QString& name) {
    imaging::AdjustmentState& s = o_.state;
    imaging::SliderValues& sl = o_.sliders;
    int index = 0;
    if (name == QLatin1String("-o")) return takeValue(name, o_.output);
    if (name == QLatin1String("--export")) {
        o_.exportRender = true;
        return true;
    }
    if (name == QLatin1String("--strip-metadata")) {
        o_.keepMetadata = false;
        return true;
    }
    if (name == QLatin1String("--size")) return integer(name, 1, 100000, s.outputSize);
    if (name == QLatin1String("--renderer")) {
        if (!choice(name, {QStringLiteral("channel"), QStringLiteral("banded")}, index))
            return false;
        s.renderMode = index;
        return true;
    }
    if (name == QLatin1String("--filter")) {
        return choice(name,
                      {QStringLiteral("none"), QStringLiteral("red"), QStringLiteral("green"),
                       QStringLiteral("blue"), QStringLiteral("cyan"), QStringLiteral("magenta"),
                       QStringLiteral("yellow")},
                      s.filterType);
    }
    if (name == QLatin1String("--light")) {
        QString text;
        return takeValue(name, text) && number(name, text, sl.slider1);
    }
    if (name == QLatin1String("--dark")) {
        QString text;
        return takeValue(name, text) && number(name, text, sl.slider2);
    }
    if (name == QLatin1String("--lanes")) {
        s.colourControls = 1;
        return true;
    }
    if (name == QLatin1String("--lane-light"))
        return triple(name, sl.sliderR, sl.sliderG, sl.sliderB);
    if (name == QLatin1String("--lane-dark")) {
        return triple(name, sl.sliderR2, sl.sliderG2, sl.sliderB2);
    }
    if (name == QLatin1String("--tone")) {
        if (!choice(name,
                    {QStringLiteral("bw"), QStringLiteral("sepia"), QStringLiteral("antique")},
                    index)) {
            return false;
        }
        // As the presets set it: black and white leaves toneOn alone.
        s.toneType = index;
        o_.toneSegment = index;
        if (index != 0) s.toneOn = 1;
        toneGiven_ = true;
        return true;
    }
    if (name == QLatin1String("--tint")) {
        float r, g, b;
        if (!triple(name, r, g, b)) return false;
        for (float v : {r, g, b}) {
            if (v < 0 || v > 255 || v != std::trunc(v)) {
                return fail(QStringLiteral("--tint takes three whole numbers from 0 to 255"));
            }
        }
        s.tintR = int(r);
        s.tintG = int(g);
        s.tintB = int(b);
        s.toneType = 3;
        o_.toneSegment = 3;
        imaging::settleStepSwitches(s, 1);
        tintGiven_ = true;
        return true;
    }
    if (name == QLatin1String("--exposure")) {
        if (!integer(name, 0, 1000, s.exposureValue)) return false;
        imaging::settleStepSwitches(s, 3);
        return true;
    }
    if (name == QLatin1String("--quant")) {
        if (!integer(name, 1, 255, s.quantValue)) return false;
        imaging::settleStepSwitches(s, 3);
        return true;
    }
    if (name == QLatin1String("--noise")) {
        if (!integer(name, 0, 100, s.noiseValue)) return false;
        imaging::settleStepSwitches(s, 3);
        return true;
    }
    if (name == QLatin1String("--alpha")) {
        if (!integer(name, 0, 100, s.alphaValue)) return false;
        imaging::settleStepSwitches(s, 3);
        return true;
    }
    if (name == QLatin1String("--invert")) {
        s.inverseValue = 1;
        imaging::settleStepSwitches(s, 3);
        return true;
    }
    if (name == QLatin1String("--vignette")) {
        if (!integer(name, 0, 1000, s.vigRadius)) return false;
        s.vigEnabled = 1;
        s.vigOn = 1;
        return true;
    }
    if (name == QLatin1String("--vignette-effect")) {
        if (!choice(name, {QStringLiteral("darken"), QStringLiteral("lighten")}, index)) {
            return false;
        }
        s.vigEffect = index + 1;
        return true;
    }
    if (name == QLatin1String("--seed")) {
        QString text;
        if (!takeValue(name, text)) return false;
        bool ok = false;
        const qulonglong seed = text.toULongLong(&ok);
        if (!ok) return fail(QStringLiteral("--seed takes a whole number, not \"%1\"").arg(text));
        o_.seed = seed;
        return true;
    }
    if (name == QLatin1String("--quality")) return integer(name, 0, 100, o_.quality);
    if (name == QLatin1String("--share")) {
        QString text;
        if (!takeValue(name, text)) return false;
        o_.shareUrl = QUrl(text, QUrl::StrictMode);
        const QString scheme = o_.shareUrl.scheme();
        if (!o_.shareUrl.isValid() || o_.shareUrl.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            return fail(QStringLiteral("--share takes an http:// address, not \"%1\"").arg(text));
        }
        return true;
    }
    if (name == QLatin1String("--description")) return takeValue(name, o_.description);
    if (name == QLatin1String("--no-record")) {
        o_.sendRecord = false;
        return true;
    }
    return fail(QStringLiteral("unknown option %1").arg(name));
}

std::optional<RenderOptions> Parser::run() {
    imaging::resetState(o_.state);
    o_.state.outputSize = kDefaultOutputSize;
    while (next_ < args_.size()) {
        const QString arg = args_[next_++];
        if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            if (!option(arg)) return std::nullopt;
        } else if (o_.input.isEmpty()) {
            o_.input = arg;
        } else {
            fail(QStringLiteral("unexpected argument \"%1\"").arg(arg));
            return std::nullopt;
        }
    }
    if (o_.input.isEmpty()) {
        fail(QStringLiteral("no input picture given"));
        return std::nullopt;
    }
    if (o_.output.isEmpty() == o_.shareUrl.isEmpty()) {
        fail(o_.output.isEmpty() ? QStringLiteral("no output given (-o OUTPUT or --share URL)")
                                 : QStringLiteral("-o and --share exclude each other"));
        return std::nullopt;
    }
    if (toneGiven_ && tintGiven_) {
        fail(QStringLiteral("--tone and --tint exclude each other"));
        return std::nullopt;
    }
    return o_;
}

}  // namespace

std::optional<RenderOptions> parseRenderOptions(const QStringList& arguments, QString* error) {
    return Parser(arguments, error).run();
}

QString renderUsage() {
    return QStringLiteral(
        "lumaro-render INPUT -o OUTPUT [options]\n"
        "lumaro-render INPUT --share URL [--description TEXT] [--no-record] [options]\n"
        "  --share URL               upload to the sharing service at URL as the application\n"
        "                            does (800 pixels on the long side, export render) and\n"
        "                            print the short link; registers first when needed\n"
        "  --description TEXT        the picture's description\n"
        "  --no-record               send no adjustment record\n"
        "  --export                  full-resolution upright picture, rendered in export mode\n"
        "  --size N                  otherwise: fit to output size N first (default 650)\n"
        "  --renderer channel|banded\n"
        "  --filter none|red|green|blue|cyan|magenta|yellow\n"
        "  --light X  --dark Y       light and dark sliders\n"
        "  --lanes                   a light and a dark slider per colour lane, with\n"
        "  --lane-light R,G,B  --lane-dark R,G,B\n"
        "  --tone bw|sepia|antique\n"
        "  --tint R,G,B              custom tint colour\n"
        "  --exposure N --quant N --noise N --alpha N --invert\n"
        "  --vignette RADIUS\n"
        "  --vignette-effect darken|lighten\n"
        "  --seed S                  seed of the noise, for repeatable output\n"
        "  --quality Q               JPEG quality (default 95)\n"
        "  --strip-metadata          leave the photo's EXIF, IPTC and XMP out (kept by default,\n"
        "                            with orientation 1, no thumbnail and the new dimensions)\n"
        "The output format follows OUTPUT's extension (.png, .jpg, .jpeg).\n");
}
