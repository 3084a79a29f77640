// Reasons shown to people, one line each.
#pragma once

#include <string>
#include <string_view>

// `text` on one line: every line break, with the blanks around it, becomes
// "; " and any other control character a space. SQLite's complaint about a
// damaged file, for one, can span lines.
inline std::string OneLine(std::string_view text) {
    const auto isControl = [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == '\x7F';
    };
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') {
            line += isControl(text[i]) ? ' ' : text[i];
            continue;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        while (i + 1 < text.size() && (text[i + 1] == '\n' || text[i + 1] == '\r' ||
                                       text[i + 1] == ' ' || text[i + 1] == '\t')) {
            ++i;
        }
        if (!line.empty() && i + 1 < text.size()) {
            line += "; ";
        }
    }
    return line;
}
