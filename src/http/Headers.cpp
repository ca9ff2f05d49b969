#include "http/Headers.h"

namespace http {

Headers::Headers(std::initializer_list<Field> fields) {
    for (const Field& field : fields) set(field.first, field.second);
}

Headers::Headers(QList<Field> fields) : fields_(std::move(fields)) {}

QString Headers::value(const QString& name) const {
    for (const Field& field : fields_) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) return field.second;
    }
    return {};
}

bool Headers::contains(const QString& name) const {
    for (const Field& field : fields_) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

void Headers::set(const QString& name, const QString& value) {
    for (Field& field : fields_) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            field.second = value;
            return;
        }
    }
    fields_.append({name, value});
}

void Headers::remove(const QString& name) {
    fields_.removeIf(
        [&](const Field& field) { return field.first.compare(name, Qt::CaseInsensitive) == 0; });
}

}  // namespace http
