#pragma once

#include <QString>

namespace sharing::keys {

// Defaults keys through which the share panel, the main screen's poll and
// the sharing client talk to each other.
inline const QString Share = QStringLiteral("Share");
inline const QString ShDescription = QStringLiteral("ShDescription");
inline const QString ShAdjustments = QStringLiteral("ShAdjustments");
inline const QString ShOutputReady = QStringLiteral("ShOutputReady");
inline const QString ShOutput = QStringLiteral("ShOutput");
// Why the last upload failed, one line; empty when it gave a link.
inline const QString ShError = QStringLiteral("ShError");
inline const QString Registered = QStringLiteral("Registered");
inline const QString PrivateKey = QStringLiteral("PrivateKey");

}  // namespace sharing::keys
