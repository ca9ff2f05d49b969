#pragma once

#include <QString>

namespace panels::keys {

// Defaults keys through which the panels hand their values to the main screen.
inline const QString activate = QStringLiteral("activate");
inline const QString R = QStringLiteral("R");
inline const QString G = QStringLiteral("G");
inline const QString B = QStringLiteral("B");
inline const QString Rad = QStringLiteral("Rad");
inline const QString Type = QStringLiteral("Type");
inline const QString Effect = QStringLiteral("Effect");
inline const QString Enabled = QStringLiteral("Enabled");
inline const QString Alpha = QStringLiteral("Alpha");
inline const QString Exposure = QStringLiteral("Exposure");
inline const QString Noise = QStringLiteral("Noise");
inline const QString Quant = QStringLiteral("Quant");
inline const QString Inverse = QStringLiteral("Inverse");
inline const QString Size = QStringLiteral("Size");
inline const QString Ornaments = QStringLiteral("Ornaments");

}  // namespace panels::keys
