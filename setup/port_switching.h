// The two check boxes that preset the port fields: "SSLを使用する" (1027) and
// "暗号パスワードを使用する" (1028).
//
// A click has already toggled its box when this runs. Whatever the ports
// held is overwritten, and ticking one box clears the other, so at most one
// is ticked after any click. Loading a stored record sets boxes and ports
// without this.
#pragma once

enum class PortBox {
    kSsl,   // 1027
    kAuth,  // 1028
};

struct PortSwitch {
    const char* smtpPortNo;
    const char* popPortNo;
    bool clearOtherBox;  // untick the other box; otherwise leave it as it is
};

// SSL ticked: 465 / 995; encrypted password ticked: 587 / 995; either one
// cleared: 25 / 110 with the other box unchanged.
PortSwitch SwitchPorts(PortBox clicked, bool nowTicked);
