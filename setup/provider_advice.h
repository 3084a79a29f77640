// What the big mail providers mean by the replies they give to a login or a
// mail that cannot work as typed (an app password needed, password login
// switched off, a sender the account may not use, port 25 blocked), as one
// table of data that the failure advice consults before its advice by code.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "setup/failure_advice.h"

// One row: when every condition holds, the advice is the row's. An empty
// pattern, an empty code list and port 0 each hold for anything.
struct ProviderAdviceRow {
    // Glob ('*': any run of characters) over the whole enhanced status code
    // that follows the reply code on the reply's first line (RFC 3463,
    // "5.7.9"); a reply without one matches only "".
    std::string_view enhancedCode{};
    // Glob found anywhere in the reply (all its lines), ASCII letters
    // compared without case: "too many" or "basic auth*disabled".
    std::string_view replyText{};
    // Host names separated by blanks; SMTP-Server (as typed, without case,
    // a final dot aside) must be one of them or end with "." and one.
    std::string_view hosts{};
    // The ECSmtp codes the row is for.
    std::span<const std::int32_t> codes{};
    // True: also any refusal of a mechanism's AUTH line (IsMechanismRefusal
    // of smtp/auth_mechanisms.h), whichever mechanism the client chose.
    bool orMechanismRefusal = false;
    // The port SMTP-PortNo must name (as PortFromText reads it).
    std::uint16_t port = 0;
    // True: only after TLS from the start met a plain greeting and the test
    // went on with STARTTLS (TestMailResult::startTlsAfterPlainGreeting).
    bool afterStartTlsRetry = false;

    // The advice: one or two polite sentences (UTF-8), the field to change,
    // and whether testing again on the implicit-TLS port is offered (only
    // when SMTP-PortNo is not that port already).
    std::string_view sentence{};
    AdviceField field = AdviceField::kNone;
    bool offerImplicitTlsPort = false;
};

// The table, in the order it is consulted.
std::span<const ProviderAdviceRow> ProviderAdviceRows();

// The first row that matches the failed test `result` on the server typed;
// null when none does.
const ProviderAdviceRow* FindProviderAdvice(const TestMailResult& result, const TypedServer& typed);

// The enhanced status code after the reply code on the reply's first line
// ("534-5.7.9 ..." gives "5.7.9"); empty when there is none.
std::string_view EnhancedStatusCode(std::string_view reply);
