// The fourteen field rules, tried in order, and their messages.
#include "setup/field_validation.h"

namespace {

enum class Refusal { kEmpty, kComma, kSlash, kNoAtSign };

struct Rule {
    QString FormFields::*field;
    Refusal refusal;
    const char* message;
};

constexpr Rule kRules[] = {
    {&FormFields::eMail, Refusal::kEmpty, "E-Mailは省略できません。"},
    {&FormFields::eMail, Refusal::kComma, "E-Mailに,（カンマ）を入れることはできません。"},
    {&FormFields::eMail, Refusal::kSlash, "E-Mailに/（スラッシュ）を入れることはできません。"},
    {&FormFields::eMail, Refusal::kNoAtSign, "E-Mailアドレスが間違ってます。"},
    {&FormFields::smtpServer, Refusal::kComma,
     "SMTPサーバーに,（カンマ）を入れることはできません。"},
    {&FormFields::popServer, Refusal::kComma,
     "POP3サーバーに,（カンマ）を入れることはできません。"},
    {&FormFields::account, Refusal::kComma, "アカウントに,（カンマ）を入れることはできません。"},
    {&FormFields::password, Refusal::kComma, "パスワードに,（カンマ）を入れることはできません。"},
    {&FormFields::smtpPortNo, Refusal::kComma,
     "SMTPサーバーPortNoに,（カンマ）を入れることはできません。"},
    {&FormFields::popPortNo, Refusal::kComma,
     "POP3サーバーPortNoに,（カンマ）を入れることはできません。"},
    {&FormFields::to, Refusal::kEmpty, "Toは省略できません。"},
    {&FormFields::to, Refusal::kComma, "Toに,（カンマ）を入れることはできません。"},
    {&FormFields::to, Refusal::kSlash, "Toに/（スラッシュ）を入れることはできません。"},
    {&FormFields::to, Refusal::kNoAtSign, "Toはアドレスが間違ってます。"},
};

bool Refuses(Refusal refusal, const QString& text) {
    switch (refusal) {
        case Refusal::kEmpty: return text.isEmpty();
        case Refusal::kComma: return text.contains(QLatin1Char(','));
        case Refusal::kSlash: return text.contains(QLatin1Char('/'));
        case Refusal::kNoAtSign: return !text.contains(QLatin1Char('@'));
    }
    return false;
}

}  // namespace

std::optional<RuleFailure> FirstFailingRule(const FormFields& fields) {
    int number = 0;
    for (const Rule& rule : kRules) {
        ++number;
        if (Refuses(rule.refusal, fields.*rule.field)) {
            return RuleFailure{number, rule.message};
        }
    }
    return std::nullopt;
}
