#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <mutex>

namespace platform {

// Persistent key-value store of the user's settings. An absent key reads as
// 0, false or an empty string. Values are kept in an INI file under
// $LUMARO_HOME/config when LUMARO_HOME is set, else in the XDG config dir.
class Defaults {
public:
    explicit Defaults(const QString& filePath);

    // The process-wide store at the standard location.
    static Defaults& standard();
    static QString standardFilePath();

    int integerForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    double floatForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    bool hasKey(const QString& key) const;

    void setInteger(int value, const QString& key);
    void setBool(bool value, const QString& key);
    void setFloat(double value, const QString& key);
    void setString(const QString& value, const QString& key);
    void removeObject(const QString& key);

    // Writes pending changes to disk.
    void synchronize();

    QString filePath() const;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace platform
