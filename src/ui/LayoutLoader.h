#pragma once

#include <QString>
#include <QWidget>

namespace ui {

// Builds a screen or panel from its layout file in the application's
// resources (":/ui/layouts/<name>.ui"), with the application's own controls
// standing in for the custom classes the layout names. Every control keeps
// its field name as objectName.
QWidget* loadLayout(const QString& name, QWidget* parent = nullptr);

// The control named name inside root; throws std::logic_error when the layout
// lacks it or it has another class, since code and layout must agree.
template <typename T>
T* field(const QWidget* root, const char* name);

}  // namespace ui

#include "ui/LayoutLoader.inl"
