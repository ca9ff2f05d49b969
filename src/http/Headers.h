#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace http {

// A dictionary of header fields: names keep the spelling they were set with and their
// order; lookups ignore case, as HTTP field names do.
class Headers {
public:
    using Field = QPair<QString, QString>;

    Headers() = default;
    Headers(std::initializer_list<Field> fields);
    explicit Headers(QList<Field> fields);

    // Null when absent.
    QString value(const QString& name) const;
    bool contains(const QString& name) const;
    // Replaces a field of the same name (any case) in place, or appends.
    void set(const QString& name, const QString& value);
    void remove(const QString& name);

    const QList<Field>& fields() const& { return fields_; }
    // A temporary hands its fields over, so iterating a returned Headers is safe.
    QList<Field> fields() && { return std::move(fields_); }
    qsizetype size() const { return fields_.size(); }
    bool isEmpty() const { return fields_.isEmpty(); }
    bool operator==(const Headers& other) const = default;

private:
    QList<Field> fields_;
};

}  // namespace http
