#include "smtp/command_table.h"

const SmtpCommandSpec* LookupCommand(SmtpCommand command) noexcept {
    for (const SmtpCommandSpec& row : SmtpCommandTable) {
        if (row.command == command) {
            return &row;
        }
    }
    return nullptr;
}
