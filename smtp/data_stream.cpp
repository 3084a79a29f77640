// Building the data stream's body lines and attachment parts as text.
#include "smtp/data_stream.h"

#include <algorithm>
#include <cstring>

#include "codec/base64.h"
#include "smtp/message_header.h"

void AppendBodyLine(std::string& out, std::string_view line) {
    if (line.starts_with('.')) {
        out += '.';
    }
    out += line;
    out += "\r\n";
}

void Base64TextLines::Add(std::string_view bytes, std::string& out) {
    while (!bytes.empty()) {
        const std::size_t count = std::min(bytes.size(), m_pending.size() - m_count);
        std::memcpy(m_pending.data() + m_count, bytes.data(), count);
        m_count += count;
        bytes.remove_prefix(count);
        if (m_count == m_pending.size()) {
            Finish(out);
        }
    }
}

void Base64TextLines::Finish(std::string& out) {
    if (m_count != 0) {
        out += Base64Encode(m_pending.data(), static_cast<std::int32_t>(m_count));
        out += "\r\n";
        m_count = 0;
    }
}

std::string_view AttachmentFileName(std::string_view path) noexcept {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace {

// Well-formed UTF-8 (RFC 3629): no overlong forms, surrogates or values past
// U+10FFFF.
bool IsUtf8(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i <= extra) {
            return false;  // cut short
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::string HeaderParameter(std::string_view attribute, std::string_view value) {
    bool plain = true;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        plain = plain && byte >= 0x20 && byte < 0x7F;
    }
    std::string parameter(attribute);
    if (plain) {
        parameter += "=\"";
        for (const char c : value) {
            if (c == '"' || c == '\\') {
                parameter += '\\';
            }
            parameter += c;
        }
        parameter += '"';
        return parameter;
    }
    // RFC 2231, 4: attribute*=charset'language'value, where the value keeps
    // only attribute-chars and %-escapes every other byte.
    constexpr std::string_view kSafe =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$&+-.^_`|~";
    constexpr std::string_view kHex = "0123456789ABCDEF";
    parameter += IsUtf8(value) ? "*=UTF-8''" : "*=Shift_JIS''";
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (kSafe.find(c) != std::string_view::npos) {
            parameter += c;
        } else {
            parameter += '%';
            parameter += kHex[byte >> 4U];
            parameter += kHex[byte & 0x0FU];
        }
    }
    return parameter;
}

std::string AttachmentPartHeader(std::string_view fileName) {
    std::string block = "--";
    block += kAttachmentBoundary;
    block += "\r\nContent-Type: application/x-msdownload; ";
    block += HeaderParameter("name", fileName);
    block += "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; ";
    block += HeaderParameter("filename", fileName);
    block += "\r\n\r\n";
    return block;
}

bool AttachmentsTooBig(std::uint64_t total) noexcept {
    return (total & ~std::uint64_t{0x3FF}) > kAttachmentLimit;
}
