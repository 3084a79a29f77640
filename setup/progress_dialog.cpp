// The test mail's progress window and its stage lines.
#include "setup/progress_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kStageCount = 5;

int StepOf(SmtpStage stage) {
    return static_cast<int>(stage) + 1;
}

}  // namespace

const char* StageMessage(SmtpStage stage) {
    switch (stage) {
        case SmtpStage::kConnecting: return "SMTPサーバーに接続しています…";
        case SmtpStage::kSecuring: return "接続を暗号化しています…";
        case SmtpStage::kLoggingIn: return "ログインしています…";
        case SmtpStage::kSending: return "テストメールを送信しています…";
        case SmtpStage::kClosing: return "接続を終了しています…";
    }
    return "";
}

TestProgressDialog::TestProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("testProgress"));
    setWindowTitle(QString::fromUtf8(kProgressCaption));
    if (owner != nullptr) {
        setFont(owner->font());
    }
    m_stage = new QLabel(this);
    m_stage->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, kStageCount);
    m_bar->setTextVisible(false);
    auto* buttons = new QDialogButtonBox(this);
    m_cancel =
        buttons->addButton(QString::fromUtf8(kProgressCancelText), QDialogButtonBox::RejectRole);
    m_cancel->setObjectName(QStringLiteral("cancel"));
    // Enter (a key the user has just pressed to start the test) and Space
    // must not end it: no default button, and Cancel takes no focus.
    m_cancel->setAutoDefault(false);
    m_cancel->setDefault(false);
    m_cancel->setFocusPolicy(Qt::NoFocus);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stage);
    layout->addWidget(m_bar);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_stage->setMinimumWidth(m_stage->fontMetrics().horizontalAdvance(QString(24, QChar(0x3042))));
    ShowStage(SmtpStage::kConnecting);
}

void TestProgressDialog::ShowStage(SmtpStage stage) {
    const bool again = m_connectingAgain && stage == SmtpStage::kConnecting;
    m_stage->setText(QString::fromUtf8(again ? kStartTlsRetryMessage : StageMessage(stage)));
    m_bar->setValue(StepOf(stage));
}

void TestProgressDialog::ShowStartTlsRetry() {
    m_connectingAgain = true;
    ShowStage(SmtpStage::kConnecting);
}

void TestProgressDialog::Finish(int result) {
    m_result = result;
    accept();
}

QString TestProgressDialog::StageText() const {
    return m_stage->text();
}
