#include "setup/field_validation.h"

#include <QtTest>

namespace {

FormFields Valid() {
    FormFields f;
    f.eMail = QStringLiteral("me@example.jp");
    f.to = QStringLiteral("to@example.jp");
    return f;
}

}  // namespace

class FieldValidationTest : public QObject {
    Q_OBJECT

  private slots:
    void judgesOnlyWhatTheRulesName_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rule");  // 0: passes
        QTest::newRow("at sign alone") << "eMail"
                                       << "@" << 0;
        QTest::newRow("nothing after the at sign") << "to"
                                                   << "to@" << 0;
        QTest::newRow("spaces are not empty") << "eMail"
                                              << "   " << 4;
        QTest::newRow("full-width at sign") << "eMail"
                                            << "me＠example.jp" << 4;
        QTest::newRow("full-width at sign in To") << "to"
                                                  << "to＠example.jp" << 14;
        QTest::newRow("full-width comma") << "password"
                                          << "p，w" << 0;
        QTest::newRow("full-width slash") << "eMail"
                                          << "me／@x" << 0;
        QTest::newRow("slash in a server name") << "smtpServer"
                                                << "a/b" << 0;
        QTest::newRow("non-numeric port") << "smtpPortNo"
                                          << "abc" << 0;
        QTest::newRow("empty servers and ports") << "popServer"
                                                 << "" << 0;
        QTest::newRow("comma in the hidden name") << "userName"
                                                  << "a,b/" << 0;
        QTest::newRow("comma in a subject") << "onSubject"
                                            << "on,/" << 0;
        QTest::newRow("comma in a port") << "popPortNo"
                                         << "1,1" << 10;
    }

    void judgesOnlyWhatTheRulesName() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(int, rule);
        FormFields f = Valid();
        const std::pair<const char*, QString FormFields::*> fields[] = {
            {"eMail", &FormFields::eMail},         {"to", &FormFields::to},
            {"password", &FormFields::password},   {"smtpServer", &FormFields::smtpServer},
            {"popServer", &FormFields::popServer}, {"smtpPortNo", &FormFields::smtpPortNo},
            {"popPortNo", &FormFields::popPortNo}, {"userName", &FormFields::userName},
            {"onSubject", &FormFields::onSubject}};
        for (const auto& [name, member] : fields) {
            if (field == QLatin1String(name)) {
                f.*member = text;
            }
        }
        const std::optional<RuleFailure> failure = FirstFailingRule(f);
        QCOMPARE(failure ? failure->rule : 0, rule);
    }
};

QTEST_APPLESS_MAIN(FieldValidationTest)
#include "field_validation_test.moc"
