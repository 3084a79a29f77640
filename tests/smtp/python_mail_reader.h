// What a real mail reader makes of bytes the client produced: Debian's
// Python and its email package.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// For the mail in sys.argv[1], per address of From, To and Cc: "<field>
// <name> <address>" as the modern parser (email.policy.default) reads it,
// then "<field> raw <name> <address>" as parseaddr (From) and getaddresses
// (To, Cc) read the raw field (ascii() forms); then the defects of every
// part and the content types of the parts that are not multipart.
inline constexpr std::string_view kMailReaderScript =
    R"(import email, email.policy, email.utils, sys
data = open(sys.argv[1], "rb").read()
modern = email.message_from_bytes(data, policy=email.policy.default)
raw = email.message_from_bytes(data)
for field in ("from", "to", "cc"):
    if modern[field] is None:
        continue
    for address in modern[field].addresses:
        print(field, ascii(address.display_name), ascii(address.addr_spec))
    pairs = ([email.utils.parseaddr(raw[field])] if field == "from"
             else email.utils.getaddresses([raw[field]]))
    for name, address in pairs:
        print(field, "raw", ascii(name), ascii(address))
print("defects", [type(d).__name__ for part in modern.walk() for d in part.defects])
print("parts", [part.get_content_type() for part in modern.walk() if not part.is_multipart()])
)";

// What /usr/bin/python3 prints running script with input in the file
// sys.argv[1].
inline std::string RunPythonOn(std::string_view script, std::string_view input) {
    char inputFile[] = "/tmp/wakebell-mail-XXXXXX";
    const int fd = mkstemp(inputFile);
    const bool written =
        fd >= 0 && write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    if (fd >= 0) {
        close(fd);
    }
    std::string out;
    const std::string command = "/usr/bin/python3 - " + std::string(inputFile) + " <<'EOF'\n" +
                                std::string(script) + "EOF\n";
    if (std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        pipe && written) {
        for (int c = 0; (c = std::fgetc(pipe.get())) != EOF;) {
            out += static_cast<char>(c);
        }
    }
    unlink(inputFile);
    return out;
}
