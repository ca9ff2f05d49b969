#include "platform/Defaults.h"

#include <QDir>
#include <QStandardPaths>

namespace platform {

Defaults::Defaults(const QString& filePath)
    : settings_(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {}

QString Defaults::standardFilePath() {
    const QString home = qEnvironmentVariable("LUMARO_HOME");
    QString dir = home.isEmpty()
                      ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                            QStringLiteral("/lumaro")
                      : home + QStringLiteral("/config");
    QDir().mkpath(dir);
    return dir + QStringLiteral("/defaults.ini");
}

Defaults& Defaults::standard() {
    static Defaults instance(standardFilePath());
    return instance;
}

int Defaults::integerForKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    return settings_->value(key).toInt();
}

bool Defaults::boolForKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    const QVariant v = settings_->value(key);
    // Integers written with setInteger read as booleans the usual way (non-zero is true).
    bool isNumber = false;
    const int n = v.toString().toInt(&isNumber);
    return isNumber ? n != 0 : v.toBool();
}

double Defaults::floatForKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    return settings_->value(key).toDouble();
}

QString Defaults::stringForKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    return settings_->value(key).toString();
}

bool Defaults::hasKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    return settings_->contains(key);
}

void Defaults::setInteger(int value, const QString& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value);
}

void Defaults::setBool(bool value, const QString& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value ? 1 : 0);
}

void Defaults::setFloat(double value, const QString& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value);
}

void Defaults::setString(const QString& value, const QString& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value);
}

void Defaults::removeObject(const QString& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(key);
}

void Defaults::synchronize() {
    std::lock_guard lock(mutex_);
    settings_->sync();
}

QString Defaults::filePath() const {
    std::lock_guard lock(mutex_);
    return settings_->fileName();
}

}  // namespace platform
