#pragma once

#include <QString>
#include <optional>

namespace platform {

// Where a saved login belongs: a server (host, port, URL scheme, realm) or an HTTP proxy
// (host, port, realm). A missing realm is part of the key too.
struct ProtectionSpace {
    QString host;
    int port = 0;
    QString protocol;
    QString realm;
    bool isProxy = false;

    // The one key a login is saved under.
    QString key() const;
};

struct SavedCredential {
    QString username;
    QString password;
};

// The desktop's password store (Secret Service or KWallet, through QtKeychain): one login per
// protection space, kept for good. Without a running password store nothing is saved or
// found and one warning says so; passwords are never written to a plain file.
// Thread-safe: every call may come from any thread and waits for the store's answer.
class CredentialStorage {
public:
    static CredentialStorage& shared();

    bool saveCredential(const ProtectionSpace& space, const SavedCredential& credential);
    std::optional<SavedCredential> credential(const ProtectionSpace& space);
    bool removeCredential(const ProtectionSpace& space);
    // False once the store was found missing.
    bool isAvailable() const;

    // The name the logins are filed under in the password store.
    static QString serviceName();

private:
    CredentialStorage();
};

}  // namespace platform
