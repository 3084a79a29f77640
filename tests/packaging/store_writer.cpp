// Stores settings in the user's store (DefaultStorePath) the way the form
// does after a sent test mail, for the installed reader's test. The values
// are fixed; installed_reader_test.sh expects exactly these. Exit status 0
// when stored, 1 (with one line on stderr) when not.
#include <cstdio>

#include "settings/store_files.h"
#include "setup/register_flow.h"

int main() {
    SettingsRecord record;
    record.szTo = "taro@example.test";
    record.smtp = "smtp.example.test";
    record.pop = "pop.example.test";
    record.account = "taro";
    record.password = "p~ss\x7F";
    record.smtpPortNo = "465";
    record.popPortNo = "995";
    record.eMail = "hanako@example.test";
    record.user = "taro";
    record.subject = "\x93\x64\x8C\xB9 on";  // "電源 on" in CP932
    record.subject2 = "off";
    record.powerOn = 1;
    record.powerOff = 0;
    record.ssl = 1;
    record.auth = 0;
    // s = 59: the key 2, 3, 4, 3, so every text is stored shifted.
    SettingsKeyChoice choice;
    choice.path = "Software\\" + NewScrambleKey(choice.key, 59);
    RegistryStore store(DefaultStorePath());
    if (!StoreTestedSettings(store, choice, record)) {
        std::fprintf(stderr, "store_writer: cannot store settings in %s\n",
                     store.DatabaseFile().c_str());
        return 1;
    }
    return 0;
}
