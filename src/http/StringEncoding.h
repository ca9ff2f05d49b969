#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace http {

// A text encoding, numbered as the platform numbers its string encodings.
using StringEncoding = quint32;

namespace StringEncodings {
inline constexpr StringEncoding Invalid = 0;
inline constexpr StringEncoding ASCII = 1;
inline constexpr StringEncoding JapaneseEUC = 3;
inline constexpr StringEncoding UTF8 = 4;
inline constexpr StringEncoding ISOLatin1 = 5;
inline constexpr StringEncoding ShiftJIS = 8;
inline constexpr StringEncoding ISOLatin2 = 9;
inline constexpr StringEncoding Unicode = 10;
inline constexpr StringEncoding WindowsCP1251 = 11;
inline constexpr StringEncoding WindowsCP1252 = 12;
inline constexpr StringEncoding WindowsCP1253 = 13;
inline constexpr StringEncoding WindowsCP1254 = 14;
inline constexpr StringEncoding WindowsCP1250 = 15;
inline constexpr StringEncoding ISO2022JP = 21;
inline constexpr StringEncoding MacOSRoman = 30;
inline constexpr StringEncoding UTF16BigEndian = 0x90000100;
inline constexpr StringEncoding UTF16LittleEndian = 0x94000100;
inline constexpr StringEncoding UTF32 = 0x8c000100;
}  // namespace StringEncodings

// The encoding an IANA character set name stands for (names compared without case),
// or Invalid when no converter knows the name.
StringEncoding encodingForIANACharSetName(const QString& name);
// The IANA name of an encoding; empty for Invalid or an unknown number.
QString ianaCharSetNameForEncoding(StringEncoding encoding);
// The text bytes stand for, or none when they do not decode in that encoding.
std::optional<QString> decodeString(const QByteArray& bytes, StringEncoding encoding);
// The bytes of text in that encoding, or none when it cannot be encoded.
std::optional<QByteArray> encodeString(const QString& text, StringEncoding encoding);

}  // namespace http
