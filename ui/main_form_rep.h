// The report window. Only its frame exists so far: the grids, the loader and
// the export commands are built with the report window itself.
#pragma once

#include <string>

#include <QDialog>

class TMainForm_rep : public QDialog {
    Q_OBJECT
  public:
    explicit TMainForm_rep(QWidget* parent = nullptr);
    // Starting folder of the window's file dialogs (the start-up directory).
    void SetDialogsDir(const std::string& dir) { dialogsDir_ = dir; }
    const std::string& DialogsDir() const { return dialogsDir_; }

  private:
    std::string dialogsDir_;
};
