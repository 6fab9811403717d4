// Widgets made with their caption and their object name, by which the
// tests and the style find each control.
#pragma once

#include <QString>
#include <QWidget>

// A new Widget (a button, a check box, a label, a group box) in parent,
// showing caption (UTF-8) and named name.
template <class Widget>
Widget* NamedWidget(QWidget* parent, const char* name, const char* caption) {
    auto* widget = new Widget(QString::fromUtf8(caption), parent);
    widget->setObjectName(name);
    return widget;
}
