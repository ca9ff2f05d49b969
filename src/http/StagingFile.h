#pragma once

#include <QFile>
#include <QString>

#include "http/Error.h"

namespace http {

// A file written privately beside its destination and renamed over it only once it is
// whole, so that a failed write never costs the file that was there before.
class StagingFile {
public:
    explicit StagingFile(QString destinationPath);
    // Removes the staged file unless it was committed.
    ~StagingFile();
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;

    // Creates the file in the destination's folder under a new name, exclusively and
    // readable by its owner only. Answers the file system's error when it cannot.
    ErrorPtr open();
    QFile& file() { return file_; }
    QString path() const { return path_; }
    // Closes the file and renames it over the destination in one step. Answers the error
    // (code 8) when it cannot; the staged file is then removed.
    ErrorPtr commit();

private:
    QString destinationPath_;
    QString path_;
    QFile file_;
    bool committed_ = false;
};

}  // namespace http
