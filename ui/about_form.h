// The About window: which exchanges the program serves and where to write.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QStatusBar;

class TAboutForm : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutForm(QWidget* parent = nullptr);

  public slots:
    // Replaces the text with its three lines; runs at every showing.
    void FormShow();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QPlainTextEdit* const Memo1;
    QStatusBar* const StatusBar1;

    // Redraws the text after a resize.
    void FormResize();
};
