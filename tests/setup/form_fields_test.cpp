#include "setup/form_fields.h"

#include <QtTest>

class FormFieldsTest : public QObject {
    Q_OBJECT

  private slots:
    void fieldsGoBackToTheRecordTheyCameFrom() {
        SettingsRecord record;
        record.szTo = "me@example.jp";
        record.eMail = "to@example.jp";
        record.smtp = "smtp";
        record.pop = "pop";
        record.account = "acc";
        record.password = "pw";
        record.smtpPortNo = "587";
        record.popPortNo = "995";
        record.user = "\x89\xD4\x8E\x71";     // 花子
        record.subject = "\x95\x5C\x8E\xA6";  // 表示
        record.subject2 = "\xDB\xB8\xDE";     // ﾛｸﾞ
        record.powerOff = 1;
        record.auth = 1;
        const FormFields fields = FieldsFromRecord(record);
        QCOMPARE(fields.eMail, QStringLiteral("me@example.jp"));  // crossed over
        QCOMPARE(fields.to, QStringLiteral("to@example.jp"));
        QCOMPARE(fields.onSubject, QStringLiteral("表示"));
        QCOMPARE(RecordFromFields(fields), std::optional<SettingsRecord>(record));
    }

    void anyNonZeroStoredStateTicksTheBox() {
        SettingsRecord record;
        record.powerOn = 2;
        record.ssl = 255;
        const FormFields fields = FieldsFromRecord(record);
        QVERIFY(fields.powerOn && fields.ssl && !fields.powerOff && !fields.auth);
        QCOMPARE(RecordFromFields(fields)->powerOn, 1);  // stored back as 1
    }

    void aTextCp932CannotHoldMakesNoRecord() {
        FormFields fields = FirstStartFields();
        QVERIFY(RecordFromFields(fields).has_value());
        fields.password = QStringLiteral("pa¥s");
        QVERIFY(!RecordFromFields(fields).has_value());
    }
};

QTEST_APPLESS_MAIN(FormFieldsTest)
#include "form_fields_test.moc"
