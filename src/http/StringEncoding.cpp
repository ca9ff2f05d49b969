#include "http/StringEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <map>
#include <mutex>
#include <vector>

namespace http {

namespace {

struct NamedEncoding {
    StringEncoding encoding;
    const char* name;
};

// The encodings with a fixed number; the first entry for a number gives its IANA name.
constexpr NamedEncoding kNamed[] = {
    {StringEncodings::ASCII, "us-ascii"},
    {StringEncodings::ASCII, "ascii"},
    {StringEncodings::JapaneseEUC, "euc-jp"},
    {StringEncodings::UTF8, "utf-8"},
    {StringEncodings::UTF8, "utf8"},
    {StringEncodings::ISOLatin1, "iso-8859-1"},
    {StringEncodings::ISOLatin1, "latin1"},
    {StringEncodings::ISOLatin1, "iso_8859-1"},
    {StringEncodings::ShiftJIS, "shift_jis"},
    {StringEncodings::ISOLatin2, "iso-8859-2"},
    {StringEncodings::Unicode, "utf-16"},
    {StringEncodings::WindowsCP1251, "windows-1251"},
    {StringEncodings::WindowsCP1252, "windows-1252"},
    {StringEncodings::WindowsCP1253, "windows-1253"},
    {StringEncodings::WindowsCP1254, "windows-1254"},
    {StringEncodings::WindowsCP1250, "windows-1250"},
    {StringEncodings::ISO2022JP, "iso-2022-jp"},
    {StringEncodings::MacOSRoman, "macintosh"},
    {StringEncodings::UTF16BigEndian, "utf-16be"},
    {StringEncodings::UTF16LittleEndian, "utf-16le"},
    {StringEncodings::UTF32, "utf-32"},
};

// Character sets without a fixed number get one from this range the first time they are
// named, for the life of the process.
constexpr StringEncoding kFirstDynamic = 0x7F000000;

struct DynamicEncodings {
    std::mutex mutex;
    std::vector<QByteArray> names;
    std::map<QByteArray, StringEncoding> byName;
};

DynamicEncodings& dynamicEncodings() {
    static DynamicEncodings encodings;
    return encodings;
}

QByteArray converterName(StringEncoding encoding) {
    for (const NamedEncoding& named : kNamed) {
        if (named.encoding == encoding) return named.name;
    }
    if (encoding >= kFirstDynamic) {
        auto& dynamic = dynamicEncodings();
        std::lock_guard lock(dynamic.mutex);
        const size_t index = encoding - kFirstDynamic;
        if (index < dynamic.names.size()) return dynamic.names[index];
    }
    return {};
}

}  // namespace

StringEncoding encodingForIANACharSetName(const QString& name) {
    const QByteArray lower = name.trimmed().toLower().toLatin1();
    if (lower.isEmpty()) return StringEncodings::Invalid;
    for (const NamedEncoding& named : kNamed) {
        if (lower == named.name) return named.encoding;
    }
    if (!QStringDecoder(lower.constData()).isValid()) return StringEncodings::Invalid;
    auto& dynamic = dynamicEncodings();
    std::lock_guard lock(dynamic.mutex);
    auto it = dynamic.byName.find(lower);
    if (it != dynamic.byName.end()) return it->second;
    const StringEncoding encoding =
        kFirstDynamic + static_cast<StringEncoding>(dynamic.names.size());
    dynamic.names.push_back(lower);
    dynamic.byName.emplace(lower, encoding);
    return encoding;
}

QString ianaCharSetNameForEncoding(StringEncoding encoding) {
    return QString::fromLatin1(converterName(encoding));
}

std::optional<QString> decodeString(const QByteArray& bytes, StringEncoding encoding) {
    const QByteArray name = converterName(encoding);
    if (name.isEmpty()) return std::nullopt;
    QStringDecoder decoder(name.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

std::optional<QByteArray> encodeString(const QString& text, StringEncoding encoding) {
    const QByteArray name = converterName(encoding);
    if (name.isEmpty()) return std::nullopt;
    QStringEncoder encoder(name.constData(), QStringEncoder::Flag::Stateless);
    if (!encoder.isValid()) return std::nullopt;
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError()) return std::nullopt;
    return bytes;
}

}  // namespace http
