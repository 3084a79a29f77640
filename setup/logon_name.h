// The logon name of the user running the program.
#pragma once

#include <string>

// The name in the user database for the effective user id, as its bytes; ""
// when the user has no entry (a container's anonymous uid, say) or the
// lookup fails. No length limit.
std::string CurrentLogonName();
