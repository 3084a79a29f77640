// The box the form shows when a test mail failed: the failure line, the
// advice of failure_advice.h below it, and in its 詳細 section the exchange
// with the server and what TLS learnt, for a user to copy to an
// administrator.
#pragma once

#include <QString>
#include <string_view>

#include "mailcheck/mail_check.h"
#include "setup/failure_advice.h"
#include "setup/message_boxes.h"

// The box for `result` and `advice`:
//   text     kTestFailedMessage; for a Cancel (advice.settingsAtFault
//            false) the advice itself, which says nothing was stored
//   more     the advice's sentences, then `question` when it is not empty
//   details  ExchangeForPerson(result.exchange), then DescribeTlsReport of
//            the TLS report when TLS failed; empty when both are
BoxMessage TestFailureBox(const TestMailResult& result, const FailureAdvice& advice,
                          const QString& question = {});

// An exchange's raw bytes as text: Shift_JIS (CP932) decoded, CR LF and LF
// as line ends, a tab as it is, and every other control byte, lone CR and
// byte that does not decode written as "\xNN" (upper-case hexadecimal).
QString ExchangeForPerson(std::string_view raw);
