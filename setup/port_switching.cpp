// The ports each click on the SSL or encrypted-password box sets.
#include "setup/port_switching.h"

PortSwitch SwitchPorts(PortBox clicked, bool nowTicked) {
    if (!nowTicked) {
        return {"25", "110", false};
    }
    return clicked == PortBox::kSsl ? PortSwitch{"465", "995", true}
                                    : PortSwitch{"587", "995", true};
}
