// Reads the logon name of the user running the program.
#include "setup/logon_name.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

std::string CurrentLogonName() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (std::size_t{1} << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_name == nullptr) {
            return {};
        }
        return found->pw_name;
    }
}
