#pragma once

#include <QFile>
#include <QString>

#include "http/Error.h"

namespace http {

// Copies the file at from onto to through a private staging file (mode 0600) beside it,
// renamed over to only once every byte is there. The kernel moves the bytes where it can
// (copy_file_range), so a large file is never held in memory. asDownload gives the result
// the permissions a finished download gets, instead of the owner's alone.
ErrorPtr copyFileStaged(const QString& from, const QString& to, bool asDownload = false);

// Writes everything from the open file source to the open file destination, the kernel
// moving the bytes where it can. Answers false on a read or write failure.
bool copyFileContents(QFile& source, QFile& destination);

}  // namespace http
