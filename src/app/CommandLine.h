#pragma once

#include <QString>
#include <QStringList>

namespace app {

// What the application's command line asks for: at most one picture to open
// at start. Help and version requests are answered by the parser itself.
struct CommandLine {
    QString picture;  // absolute local path, or empty
    QString error;    // one line when the arguments make no sense
};

// Parses the arguments (program name first). A file: URL, as desktop
// environments pass, becomes its local path; a relative path is taken from
// the current folder.
CommandLine parseCommandLine(const QStringList& arguments);

// A dropped or passed location as a local path; empty when it is not a local file.
QString localPictureLocation(const QString& pathOrUrl);

}  // namespace app
