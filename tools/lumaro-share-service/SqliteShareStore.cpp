#include "SqliteShareStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "RandomTokens.h"

namespace share {
namespace {

constexpr const char* kIncomingPrefix = ".incoming-";

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            throw StoreError(std::string("database: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }

    // SQLITE_ROW, SQLITE_DONE or SQLITE_CONSTRAINT; anything else throws.
    int step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
        if ((rc & 0xff) == SQLITE_CONSTRAINT) return SQLITE_CONSTRAINT;
        throw StoreError(std::string("database: ") + sqlite3_errmsg(db_));
    }
    std::string text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, std::size_t(sqlite3_column_bytes(stmt_, column))) : std::string();
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

[[noreturn]] void failErrno(const std::string& what) {
    throw StoreError(what + ": " + std::strerror(errno));
}

void syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) failErrno("cannot open " + dir.string());
    const int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) failErrno("cannot flush " + dir.string());
}

}  // namespace

SqliteShareStore::SqliteShareStore(const std::filesystem::path& dir) : pictures_(dir / "pictures") {
    std::error_code ec;
    std::filesystem::create_directories(pictures_, ec);
    if (ec) throw StoreError("cannot create " + pictures_.string() + ": " + ec.message());
    // Pictures of uploads that a crash interrupted never got a row: drop them.
    for (const auto& entry : std::filesystem::directory_iterator(pictures_, ec)) {
        if (entry.path().filename().string().starts_with(kIncomingPrefix)) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
    const std::string file = (dir / "shares.db").string();
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("cannot open " + file + ": " + message);
    }
    // Other service instances may share the database: wait for their locks.
    sqlite3_busy_timeout(db_, 10000);
    try {
        execute("PRAGMA journal_mode=WAL");
        execute("PRAGMA synchronous=NORMAL");
        execute(
            "CREATE TABLE IF NOT EXISTS users ("
            " key TEXT PRIMARY KEY, created_at INTEGER NOT NULL)");
        execute(
            "CREATE TABLE IF NOT EXISTS pictures ("
            " id TEXT PRIMARY KEY, description TEXT NOT NULL, adjustments TEXT NOT NULL,"
            " user_key TEXT NOT NULL, created_at INTEGER NOT NULL,"
            " width INTEGER NOT NULL, height INTEGER NOT NULL)");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

SqliteShareStore::~SqliteShareStore() { sqlite3_close(db_); }

void SqliteShareStore::execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw StoreError("database: " + text);
    }
}

bool SqliteShareStore::addUser(const std::string& key) {
    std::lock_guard lock(mutex_);
    Statement insert(db_, "INSERT INTO users (key, created_at) VALUES (?, ?)");
    insert.bind(1, key);
    insert.bind(2, std::int64_t(std::time(nullptr)));
    return insert.step() == SQLITE_DONE;
}

bool SqliteShareStore::hasUser(const std::string& key) {
    std::lock_guard lock(mutex_);
    Statement query(db_, "SELECT 1 FROM users WHERE key = ?");
    query.bind(1, key);
    return query.step() == SQLITE_ROW;
}

std::filesystem::path SqliteShareStore::picturePath(const std::string& id) const {
    return pictures_ / (id + ".png");
}

// Writes the bytes to a private temporary file and flushes them to disk.
std::filesystem::path SqliteShareStore::writeIncoming(const std::string& png) {
    const std::filesystem::path path = pictures_ / (kIncomingPrefix + randomToken(16));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) failErrno("cannot create " + path.string());
    std::size_t written = 0;
    while (written < png.size()) {
        const ssize_t n = ::write(fd, png.data() + written, png.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            ::unlink(path.c_str());
            errno = saved;
            failErrno("cannot write " + path.string());
        }
        written += std::size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(path.c_str());
        errno = saved;
        failErrno("cannot write " + path.string());
    }
    return path;
}

bool SqliteShareStore::addPicture(const PictureRecord& record, const std::string& png) {
    // The slow part, writing the file, runs outside the lock.
    const std::filesystem::path incoming = writeIncoming(png);
    const std::filesystem::path final = picturePath(record.id);
    std::lock_guard lock(mutex_);
    try {
        execute("BEGIN IMMEDIATE");
    } catch (...) {
        ::unlink(incoming.c_str());
        throw;
    }
    bool renamed = false;
    try {
        Statement insert(db_,
                         "INSERT INTO pictures (id, description, adjustments, user_key,"
                         " created_at, width, height) VALUES (?, ?, ?, ?, ?, ?, ?)");
        insert.bind(1, record.id);
        insert.bind(2, record.description);
        insert.bind(3, record.adjustments);
        insert.bind(4, record.userKey);
        insert.bind(5, record.createdAt);
        insert.bind(6, std::int64_t(record.width));
        insert.bind(7, std::int64_t(record.height));
        if (insert.step() == SQLITE_CONSTRAINT) {
            execute("ROLLBACK");
            ::unlink(incoming.c_str());
            return false;
        }
        // The file is in place before the row is committed: a crash in
        // between leaves a picture without a row, never the other way round.
        if (::rename(incoming.c_str(), final.c_str()) != 0) failErrno("cannot store picture");
        renamed = true;
        syncDirectory(pictures_);
        execute("COMMIT");
        return true;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        ::unlink(renamed ? final.c_str() : incoming.c_str());
        throw;
    }
}

std::optional<PictureRecord> SqliteShareStore::findPicture(const std::string& id) {
    std::lock_guard lock(mutex_);
    Statement query(db_,
                    "SELECT description, adjustments, user_key, created_at, width, height"
                    " FROM pictures WHERE id = ?");
    query.bind(1, id);
    if (query.step() != SQLITE_ROW) return std::nullopt;
    return PictureRecord{id,
                         query.text(0),
                         query.text(1),
                         query.text(2),
                         query.integer(3),
                         int(query.integer(4)),
                         int(query.integer(5))};
}

std::optional<std::string> SqliteShareStore::pictureData(const std::string& id) {
    if (!findPicture(id)) return std::nullopt;
    std::ifstream in(picturePath(id), std::ios::binary);
    if (!in) throw StoreError("picture " + id + " is missing its file");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace share
