#include "main_form_rep.h"

#include <QApplication>

TMainForm_rep::TMainForm_rep(QWidget* parent) : QDialog(parent) {
    setObjectName("MainForm_rep");
    setWindowTitle(QApplication::applicationName());
    resize(564, 570);
}
