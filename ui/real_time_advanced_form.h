// The grid of off-hook handsets and busy trunks that accompanies the
// real-time monitor. Only its frame exists so far; the grid comes with it.
#pragma once

#include <QDialog>

class TRealTimeAdvancedForm : public QDialog {
    Q_OBJECT
  public:
    explicit TRealTimeAdvancedForm(QWidget* parent = nullptr);
};
