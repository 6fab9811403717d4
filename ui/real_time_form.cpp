#include "real_time_form.h"

TRealTimeForm::TRealTimeForm(QWidget* parent) : QDialog(parent) {
    setObjectName("RealTimeForm");
    setWindowTitle("Отслеживание соединений в режиме реального времени");
}
