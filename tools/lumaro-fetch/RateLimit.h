#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// A transfer rate as curl writes it: bytes per second, or with a suffix k, M or G (either
// case; 1024-based) or b for plain bytes. None when the text is no such rate or the rate
// does not fit in 32 bits; *problem then says why.
std::optional<quint32> parseRateLimit(const QString& text, QString* problem);
