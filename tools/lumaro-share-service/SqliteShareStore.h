#pragma once

#include <filesystem>
#include <mutex>

#include "ShareStore.h"

struct sqlite3;

namespace share {

// Records in one SQLite database (WAL mode, one transaction per picture) and
// the pictures as files beside it, in <dir>/shares.db and <dir>/pictures/.
// A picture is written under a temporary name, flushed and renamed to its id
// before its row is committed, so a crash or a cut connection leaves neither
// half a file nor a row without its file; leftovers of a crash are removed
// when the store opens.
class SqliteShareStore : public ShareStore {
public:
    // Creates the folder and the tables when they are missing; throws
    // StoreError when the folder or the database cannot be opened.
    explicit SqliteShareStore(const std::filesystem::path& dir);
    ~SqliteShareStore() override;
    SqliteShareStore(const SqliteShareStore&) = delete;
    SqliteShareStore& operator=(const SqliteShareStore&) = delete;

    bool addUser(const std::string& key) override;
    bool hasUser(const std::string& key) override;
    bool addPicture(const PictureRecord& record, const std::string& png) override;
    std::optional<PictureRecord> findPicture(const std::string& id) override;
    std::optional<std::string> pictureData(const std::string& id) override;

    std::filesystem::path picturePath(const std::string& id) const;

private:
    void execute(const char* sql);
    std::filesystem::path writeIncoming(const std::string& png);

    std::filesystem::path pictures_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

}  // namespace share
