#include "smtp/data_stream.h"

#include "smtp/message_header.h"

void AppendBodyLine(std::string& out, std::string_view line) {
    if (line.starts_with('.')) {
        out += '.';
    }
    out += line;
    out += "\r\n";
}

bool BodyIsEightBit(const std::vector<std::string>& lines) noexcept {
    for (const std::string& line : lines) {
        if (HasHighBytes(line)) {
            return true;
        }
    }
    return false;
}

std::string_view AttachmentFileName(std::string_view path) noexcept {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

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
    parameter += "*=UTF-8''";
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
