#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace share {

// What the service keeps about one shared picture besides its PNG bytes.
struct PictureRecord {
    std::string id;              // 8 characters of [A-Za-z0-9], chosen by the service
    std::string description;     // as the client sent it
    std::string adjustments;     // the adjustment record as sent, possibly empty
    std::string userKey;         // empty for an unregistered upload
    std::int64_t createdAt = 0;  // seconds since the epoch
    int width = 0;
    int height = 0;
};

// A failure of the storage itself (disk full, database unreadable): the
// request that met it is answered 500 and leaves nothing half-written.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the service keeps its users and pictures. The service holds no state
// of its own between requests, so a deployment that outgrows one machine can
// put the records in a shared database and the pictures in an object store
// behind this same interface, with several service instances in front.
// Implementations are safe to call from many threads at once.
class ShareStore {
public:
    virtual ~ShareStore() = default;

    // Records a new user key; false when the key is already taken.
    virtual bool addUser(const std::string& key) = 0;
    virtual bool hasUser(const std::string& key) = 0;

    // Stores the picture and its record together: afterwards both exist or
    // neither does. False when the id is already taken (nothing is stored).
    virtual bool addPicture(const PictureRecord& record, const std::string& png) = 0;

    virtual std::optional<PictureRecord> findPicture(const std::string& id) = 0;
    // The PNG bytes of a stored picture, or nothing for an unknown id.
    virtual std::optional<std::string> pictureData(const std::string& id) = 0;
};

}  // namespace share
