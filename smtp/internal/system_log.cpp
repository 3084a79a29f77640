#include "smtp/internal/system_log.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "smtp/smtp.h"

namespace {

// "<15>" (user facility, debug), the time stamp, the program and its pid.
constexpr std::size_t kMaxFrame = 256;

}  // namespace

std::string DataSummary(std::uint64_t bytes, std::uint64_t blocks) {
    std::array<char, 96> line{};
    const int length =
        std::snprintf(line.data(), line.size(),
                      "<message data: %" PRIu64 " bytes in %" PRIu64 " blocks>", bytes, blocks);
    return length > 0 ? std::string(line.data(),
                                    std::min(static_cast<std::size_t>(length), line.size() - 1))
                      : std::string();
}

void SystemLogWriter::Record(std::string_view text) noexcept {
    const auto flushSummary = [this] {
        if (m_dataBlocks != 0) {
            try {
                Write(DataSummary(m_dataBytes, m_dataBlocks));
            } catch (...) {
                // Only std::string's allocation can throw; the line is lost.
            }
        }
        m_dataBytes = 0;
        m_dataBlocks = 0;
    };
    if (text.starts_with(kTraceStatePrefix)) {
        if (m_inData) {
            flushSummary();  // data abandoned
        }
        m_inData = text.ends_with("-> in data");
    } else if (m_inData) {
        if (text == "\r\n.\r\n") {  // the end of data; its reply follows
            flushSummary();
            m_inData = false;
        } else if (text.starts_with("<message data: ")) {
            m_dataBytes = 0;
            m_dataBlocks = 0;
        } else {
            m_dataBytes += text.size();
            ++m_dataBlocks;
            return;
        }
    }
    Write(text);
}

SystemLogWriter::SystemLogWriter(std::string path)
    : m_path(std::move(path)), m_record(std::make_unique<char[]>(kMaxFrame + kMaxText)) {}

SystemLogWriter::~SystemLogWriter() {
    if (m_socket >= 0) {
        close(m_socket);
    }
}

bool SystemLogWriter::Connect() noexcept {
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, m_path.c_str(), m_path.size() + 1);
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        return false;
    }
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(m_socket);
        m_socket = -1;
        return false;
    }
    return true;
}

void SystemLogWriter::Write(std::string_view text) noexcept {
    if (m_gaveUp || (m_socket < 0 && !Connect())) {
        m_gaveUp = true;
        return;
    }
    if (text.ends_with("\r\n")) {
        text.remove_suffix(2);
    }
    text = text.substr(0, kMaxText);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::array<char, 32> stamp{};
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(stamp.data(), stamp.size(), "%b %e %H:%M:%S", &local) == 0) {
        stamp[0] = '\0';
    }
    const int frame =
        std::snprintf(m_record.get(), kMaxFrame, "<%d>%s %.64s[%d]: ", LOG_USER | LOG_DEBUG,
                      stamp.data(), program_invocation_short_name, static_cast<int>(getpid()));
    if (frame <= 0 || static_cast<std::size_t>(frame) >= kMaxFrame) {
        return;
    }
    std::memcpy(m_record.get() + frame, text.data(), text.size());
    const std::size_t length = static_cast<std::size_t>(frame) + text.size();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (send(m_socket, m_record.get(), length, MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) {
            return;
        }
        const int error = errno;
        // A full log, or a record too large for it, loses this record only.
        if (error == EAGAIN || error == EWOULDBLOCK || error == EMSGSIZE || error == ENOBUFS) {
            return;
        }
        // A log that restarted has a new socket: connect once more.
        if ((error != ECONNREFUSED && error != ENOTCONN) || attempt != 0 || !Connect()) {
            break;
        }
    }
    m_gaveUp = true;
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
}
