#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QStringList>
#include <optional>

// Collects the messages of one logging category (debug lines switched on), or only those of
// one type, while it lives.
class LogCapture {
public:
    explicit LogCapture(const char* category, std::optional<QtMsgType> only = std::nullopt) {
        category_() = category;
        only_() = only;
        lines().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("%1.debug=true").arg(category));
        previous_ = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
    }
    static const QStringList& collected() { return lines(); }
    bool contains(const QString& line) const { return lines().contains(line); }
    int count(const QString& line) const { return static_cast<int>(lines().count(line)); }
    void clear() { lines().clear(); }

private:
    static QStringList& lines() {
        static QStringList collected;
        return collected;
    }
    static QByteArray& category_() {
        static QByteArray name;
        return name;
    }
    static std::optional<QtMsgType>& only_() {
        static std::optional<QtMsgType> type;
        return type;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (context.category && category_() == context.category && (!only_() || *only_() == type))
            lines().append(message);
    }
    QtMessageHandler previous_;
};
