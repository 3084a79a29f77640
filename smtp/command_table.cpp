// Looking up a command's row in the command table.
#include "smtp/command_table.h"

const SmtpCommandRow* LookupCommand(SmtpCommand command) noexcept {
    for (const SmtpCommandRow& row : SmtpCommandTable) {
        if (row.command == command) {
            return &row;
        }
    }
    return nullptr;
}
