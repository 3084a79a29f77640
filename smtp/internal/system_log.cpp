// Records for the system log over its datagram socket, and the trace sink
// that feeds them.
#include "smtp/internal/system_log.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// "<15>" (user facility, debug), the time stamp, the program and its pid.
constexpr std::size_t kMaxFrame = 256;

}  // namespace

void SystemLogWriter::Record(const TraceEvent& event) noexcept {
    if (event.dataBlocks != 0) {
        try {
            Write(DataSummary(event.dataBytes, event.dataBlocks));
        } catch (...) {
            // Only std::string's allocation can throw; the line is lost.
        }
    }
    if (event.kind != TraceKind::kData) {
        Write(event.text);
    }
}

SmtpTraceSink SystemLogSink(std::shared_ptr<SystemLogWriter> writer) {
    return [writer = std::move(writer)](std::string_view text) {
        const TraceEvent* handed = TraceEventBeingHanded();
        TraceEvent event = handed != nullptr ? *handed : TraceEvent{};
        event.text = text;  // what the owner's sink handed on
        writer->Record(event);
    };
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
