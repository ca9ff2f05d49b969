#include "platform/CredentialStorage.h"

#include <qt6keychain/keychain.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <mutex>

Q_LOGGING_CATEGORY(lcCredentials, "lumaro.http.credentials")

namespace platform {

namespace {

constexpr int kAnswerTimeoutMs = 3000;

// Jobs wait here for their answer, one at a time: on the GUI thread when there is an
// application (the store's client library answers through its event loop), else on a thread
// of their own.
class KeychainThread {
public:
    KeychainThread() {
        m_thread.setObjectName(QStringLiteral("Credential storage"));
        m_thread.start();
        while (QAbstractEventDispatcher::instance(&m_thread) == nullptr) {
            QThread::yieldCurrentThread();
        }
    }

    // Runs job on the thread and waits until it has finished.
    QKeychain::Error run(QKeychain::Job* job) {
        std::lock_guard lock(m_mutex);
        QKeychain::Error error = QKeychain::OtherError;
        QObject* context = QAbstractEventDispatcher::instance(&m_thread);
        auto body = [job, &error] {
            QEventLoop loop;
            QTimer deadline;
            deadline.setSingleShot(true);
            job->setAutoDelete(false);
            job->setInsecureFallback(false);
            QObject::connect(job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
            QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
            job->start();
            // A store that never answers (a bus that lost its service) counts as missing.
            deadline.start(kAnswerTimeoutMs);
            loop.exec();
            if (!deadline.isActive()) {
                // Nothing waits for it any more: it goes when it ends.
                QObject::disconnect(job, nullptr, nullptr, nullptr);
                job->setAutoDelete(true);
                error = QKeychain::NoBackendAvailable;
                return;
            }
            error = job->error();
            if (error != QKeychain::NoError && error != QKeychain::EntryNotFound) {
                qCDebug(lcCredentials) << "password store:" << job->errorString();
            }
            delete job;
        };
        // The store's client library answers through the main event loop of the GUI thread,
        // so jobs run there when there is one; the calling thread waits.
        QCoreApplication* application = QCoreApplication::instance();
        QObject* target = application != nullptr ? application : context;
        if (QThread::currentThread() == target->thread()) {
            body();
        } else {
            QMetaObject::invokeMethod(target, body, Qt::BlockingQueuedConnection);
        }
        return error;
    }

private:
    QThread m_thread;
    std::mutex m_mutex;
};

KeychainThread& keychainThread() {
    // Never destroyed: a job may still be winding down at exit.
    static auto* thread = new KeychainThread();
    return *thread;
}

std::atomic<bool> storeAvailable{true};

// A missing store is said once and then taken as given.
bool noteOutcome(QKeychain::Error error) {
    // Anything but an answer (or a missing entry, or a user who said no) means the store
    // cannot be reached: with no session bus, the Secret Service reports "other error".
    if (error != QKeychain::NoError && error != QKeychain::EntryNotFound &&
        error != QKeychain::AccessDeniedByUser && error != QKeychain::CouldNotDeleteEntry) {
        if (storeAvailable.exchange(false)) {
            qCWarning(lcCredentials,
                      "No password store is running: logins are kept for this session only");
        }
        return false;
    }
    return error == QKeychain::NoError;
}

}  // namespace

QString ProtectionSpace::key() const {
    const QString kind = isProxy ? QStringLiteral("proxy") : protocol.toLower();
    // Percent-encoding keeps the separators unambiguous whatever the realm holds.
    return QStringLiteral("%1://%2:%3/%4")
        .arg(kind, host.toLower(), QString::number(port),
             QString::fromLatin1(QUrl::toPercentEncoding(realm)));
}

CredentialStorage::CredentialStorage() = default;

CredentialStorage& CredentialStorage::shared() {
    static auto* storage = new CredentialStorage();
    return *storage;
}

QString CredentialStorage::serviceName() { return QStringLiteral("Lumaro HTTP logins"); }

bool CredentialStorage::isAvailable() const { return storeAvailable; }

bool CredentialStorage::saveCredential(const ProtectionSpace& space,
                                       const SavedCredential& credential) {
    if (!storeAvailable) return false;
    auto* job = new QKeychain::WritePasswordJob(serviceName());
    job->setKey(space.key());
    QJsonObject record{{QStringLiteral("user"), credential.username},
                       {QStringLiteral("password"), credential.password}};
    job->setBinaryData(QJsonDocument(record).toJson(QJsonDocument::Compact));
    return noteOutcome(keychainThread().run(job));
}

std::optional<SavedCredential> CredentialStorage::credential(const ProtectionSpace& space) {
    if (!storeAvailable) return std::nullopt;
    auto* job = new QKeychain::ReadPasswordJob(serviceName());
    job->setKey(space.key());
    QByteArray data;
    QObject::connect(
        job, &QKeychain::Job::finished, job, [&data, job] { data = job->binaryData(); },
        Qt::DirectConnection);
    if (!noteOutcome(keychainThread().run(job))) return std::nullopt;
    const QJsonObject record = QJsonDocument::fromJson(data).object();
    if (!record.value(QStringLiteral("user")).isString() ||
        !record.value(QStringLiteral("password")).isString()) {
        return std::nullopt;
    }
    return SavedCredential{record.value(QStringLiteral("user")).toString(),
                           record.value(QStringLiteral("password")).toString()};
}

bool CredentialStorage::removeCredential(const ProtectionSpace& space) {
    if (!storeAvailable) return false;
    auto* job = new QKeychain::DeletePasswordJob(serviceName());
    job->setKey(space.key());
    return noteOutcome(keychainThread().run(job));
}

}  // namespace platform
