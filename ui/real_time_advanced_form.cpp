#include "real_time_advanced_form.h"

TRealTimeAdvancedForm::TRealTimeAdvancedForm(QWidget* parent) : QDialog(parent) {
    setObjectName("RealTimeAdvancedForm");
    setWindowTitle("Отбражение снятых трубок и занятых СЛ.");
}
