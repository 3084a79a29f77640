// What the mail benchmark's two sides share: the envelope addresses and the
// body lines of the large mail.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr const char* kBenchSender = "bench-sender@example.invalid";
inline constexpr const char* kBenchRecipient = "bench-recipient@example.invalid";
inline constexpr std::size_t kBenchLineLength = 70;

// Body line number index of the large mail into line (whose buffer is
// reused, as a program reading a body file reuses its line buffer): the
// number in seven digits (the low seven for larger numbers), a blank and 62
// letters and digits starting at a place that moves with the number;
// kBenchLineLength characters, none a leading ".".
inline void BenchBodyLine(std::size_t index, std::string& line) {
    constexpr std::string_view kTwice =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t kDigits = 7;
    line.assign(kDigits + 1, ' ');
    std::size_t number = index;
    for (std::size_t i = kDigits; i > 0; --i) {
        line[i - 1] = static_cast<char>('0' + number % 10);
        number /= 10;
    }
    line += kTwice.substr(index % (kTwice.size() / 2), kBenchLineLength - kDigits - 1);
}
