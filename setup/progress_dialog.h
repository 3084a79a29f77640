// The small modal window shown while the test mail is on its way: what the
// client is doing, and a Cancel button. Only a click on Cancel, Alt+C, Esc
// or the close box ends the test early; Enter and Space do nothing here.
#pragma once

#include <QDialog>

#include "smtp/smtp.h"

class QLabel;
class QProgressBar;
class QPushButton;

inline constexpr const char* kProgressCaption = "通信のテスト";
inline constexpr const char* kProgressCancelText = "キャンセル(&C)";

// The line shown for each stage (UTF-8).
const char* StageMessage(SmtpStage stage);
// The line shown while the test connects again with STARTTLS, after TLS
// from the start met a plain SMTP greeting (UTF-8).
inline constexpr const char* kStartTlsRetryMessage = "STARTTLSで接続し直しています…";

class TestProgressDialog final : public QDialog {
  public:
    // Captioned kProgressCaption, with the owner's font; shows the
    // connecting stage until told otherwise.
    explicit TestProgressDialog(QWidget* owner);

    void ShowStage(SmtpStage stage);
    // The test connects again with STARTTLS: kStartTlsRetryMessage, also
    // for that connection's kConnecting stage; its later stages as usual.
    void ShowStartTlsRetry();
    // Ends exec() with Accepted and keeps the test's result.
    void Finish(int result);
    int Result() const { return m_result; }

    QString StageText() const;
    QPushButton* CancelButton() const { return m_cancel; }

  private:
    QLabel* m_stage = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_cancel = nullptr;
    int m_result = 1;
    bool m_connectingAgain = false;
};
