#pragma once

#include <QString>

namespace http {

// Creates a new empty file that only its owner may read or write, made
// exclusively (never one that already stood there), and answers its path.
// With nextTo, the file lies in that path's folder, under a hidden name, so a
// download never passes through a shared folder and ends in a rename within
// one file system; without it, or when that folder takes no new file, it lies
// in the temporary folder. The path is answered even when no file could be
// made: writing to it then fails and names it.
QString newTemporaryPath(const QString& nextTo = {});

// Before a finished download is renamed onto destination: gives the staged
// file the permissions of the file it replaces, or those of a new file.
void giveFinishedDownloadPermissions(const QString& staged, const QString& destination);

}  // namespace http
