#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

namespace app {

QString localPictureLocation(const QString& pathOrUrl) {
    if (pathOrUrl.isEmpty()) return {};
    if (pathOrUrl.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(pathOrUrl);
        return url.isLocalFile() ? QFileInfo(url.toLocalFile()).absoluteFilePath() : QString();
    }
    // A file whose name merely looks like an address is still a file.
    if (QFileInfo::exists(pathOrUrl)) return QFileInfo(pathOrUrl).absoluteFilePath();
    // Other schemes (http:, sftp:) are not pictures we can read.
    const QUrl url(pathOrUrl);
    if (url.scheme().size() > 1 && !pathOrUrl.startsWith(QLatin1Char('/'))) return {};
    return QFileInfo(pathOrUrl).absoluteFilePath();
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Black-and-white photo editor"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("picture"),
                                 QStringLiteral("A photo to open (JPEG, PNG, TIFF, WebP...)."),
                                 QStringLiteral("[picture]"));
    CommandLine result;
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
    const QStringList pictures = parser.positionalArguments();
    if (pictures.size() > 1) {
        result.error = QStringLiteral("one picture at a time, not %1").arg(pictures.size());
        return result;
    }
    if (!pictures.isEmpty()) {
        result.picture = localPictureLocation(pictures.first());
        if (result.picture.isEmpty())
            result.error = QStringLiteral("%1 is not a local file").arg(pictures.first());
    }
    return result;
}

}  // namespace app
