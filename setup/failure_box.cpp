// Builds the failed test's message box and shows its exchange as text.
#include "setup/failure_box.h"

#include <array>
#include <cstdio>
#include <string>

#include "settings/iconv_convert.h"
#include "setup/register_flow.h"
#include "smtp/tls_report.h"

namespace {

void AppendEscaped(std::string& text, unsigned char byte) {
    std::array<char, 5> escaped{};
    std::snprintf(escaped.data(), escaped.size(), "\\x%02X", static_cast<unsigned>(byte));
    text += escaped.data();
}

// Decodes a run without control bytes; no CP932 trail byte is one, so a
// run never splits a character.
void AppendDecoded(std::string& text, std::string_view run) {
    if (!ConvertCharset(
            "UTF-8", "CP932", run, [&text](std::string_view piece) { text += piece; },
            [&text](unsigned char bad) { AppendEscaped(text, bad); })) {
        for (const char byte : run) {
            AppendEscaped(text, static_cast<unsigned char>(byte));
        }
    }
}

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

}  // namespace

BoxMessage TestFailureBox(const TestMailResult& result, const FailureAdvice& advice,
                          const QString& question) {
    BoxMessage box;
    const QString reason = QString::fromStdString(advice.reason);
    if (advice.settingsAtFault) {
        box.text = QString::fromUtf8(kTestFailedMessage);
        box.more = reason;
    } else {
        box.text = reason;
    }
    if (!question.isEmpty()) {
        box.more += (box.more.isEmpty() ? QString() : QStringLiteral("\n\n")) + question;
    }
    box.details = ExchangeForPerson(result.exchange);
    if (result.tls.problem != TlsProblem::kNone) {
        const QString tls = QString::fromStdString(DescribeTlsReport(result.tls));
        if (!tls.isEmpty()) {
            if (!box.details.isEmpty() && !box.details.endsWith('\n')) {
                box.details += '\n';
            }
            box.details += tls;
        }
    }
    return box;
}

QString ExchangeForPerson(std::string_view raw) {
    std::string text;
    std::size_t runStart = 0;
    for (std::size_t i = 0; i <= raw.size(); ++i) {
        const unsigned char byte = i < raw.size() ? static_cast<unsigned char>(raw[i]) : '\0';
        if (i < raw.size() && !IsControl(byte)) {
            continue;
        }
        AppendDecoded(text, raw.substr(runStart, i - runStart));
        runStart = i + 1;
        if (i == raw.size()) {
            break;
        }
        if (byte == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            continue;  // the LF that follows ends the line
        }
        if (byte == '\n' || byte == '\t') {
            text += raw[i];
        } else {
            AppendEscaped(text, byte);
        }
    }
    return QString::fromStdString(text);
}
