// What a real mail reader makes of bytes the client produced: runs a script
// with Debian's Python (its email package) on them and returns what the
// script prints.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

// Reads the mail in sys.argv[1] with both of Python's parsers and prints,
// for From, To and Cc, one line per address the modern parser
// (email.policy.default) finds, "<field> <display name> <address>", then
// what the older email.utils.parseaddr (From) and getaddresses (To, Cc)
// read from the raw field, "<field> raw <name> <address>" (names and
// addresses as Python's ascii()); then the defects of every part and the
// content types of the parts that are not multipart.
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

// Runs script on input (given as a file, sys.argv[1]) with /usr/bin/python3
// and returns its standard output; "<no python>" when it cannot start.
inline std::string RunPythonOn(std::string_view script, std::string_view input) {
    const auto write = [](std::string_view bytes) {
        char name[] = "/tmp/wakebell-python-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (count <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(count);
            }
            close(fd);
        }
        return std::string(name);
    };
    const std::string scriptFile = write(script);
    const std::string inputFile = write(input);
    const std::string command = "/usr/bin/python3 " + scriptFile + " " + inputFile;
    std::string out = "<no python>";
    if (std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose); pipe) {
        out.clear();
        for (int c = 0; (c = std::fgetc(pipe.get())) != EOF;) {
            out += static_cast<char>(c);
        }
    }
    unlink(scriptFile.c_str());
    unlink(inputFile.c_str());
    return out;
}
