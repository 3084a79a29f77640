// The checks the register button makes before anything is stored.
//
// Fourteen rules, tried strictly in order; the first that fails decides the
// one message the user sees. Texts are searched as characters, so only the
// ASCII "," "/" "@" count: the full-width ，／＠ do not, and no part of a
// double-byte character can match. Nothing else is judged: servers, account,
// password and ports may be empty and ports need not be numbers; the hidden
// User Name field, the subjects and the check boxes are not examined.
#pragma once

#include <optional>

#include "setup/form_fields.h"

struct RuleFailure {
    int rule;             // 1..14, in the order the rules are tried
    const char* message;  // UTF-8, shown in an OK box
};

// The first rule `fields` break, or nullopt when all fourteen pass:
//   1-4   E-Mail: empty; holds ","; holds "/"; holds no "@"
//   5-10  SMTP-Server, POP-Server, Account, Password, SMTP-PortNo,
//         POP-PortNo, in that order: holds ","
//   11-14 To: empty; holds ","; holds "/"; holds no "@"
// A text of spaces is not empty.
std::optional<RuleFailure> FirstFailingRule(const FormFields& fields);
