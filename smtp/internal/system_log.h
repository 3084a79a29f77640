// The client's default trace sink: records for the system log, written to
// its datagram socket (RFC 3164 framing, user facility, debug priority).
//
// One writer per client. It connects on its first record; when the log
// cannot be reached then, or again after a send fails, it gives up for
// good, so an absent log costs one attempt per client, not one per record.
// Private to smtp/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "smtp/internal/trace_policy.h"

class SystemLogWriter {
  public:
    // path: the log's socket; /dev/log on every system the client runs on.
    explicit SystemLogWriter(std::string path = "/dev/log");
    ~SystemLogWriter();

    SystemLogWriter(const SystemLogWriter&) = delete;
    SystemLogWriter& operator=(const SystemLogWriter&) = delete;

    // Sends text as one record, without a final CR LF and cut to
    // kMaxText bytes. Never blocks (a full log drops the record) and never
    // fails.
    void Write(std::string_view text) noexcept;
    // One event of the client's trace (smtp/internal/trace_policy.h).
    // Message data (kData) is never written; an event that carries the
    // tally of a mail's data is preceded by its DataSummary line, and a
    // summary the client made itself passes as it is. So the log gets no
    // message text whatever SmtpDataTrace mode an owner forwards.
    void Record(const TraceEvent& event) noexcept;
    // True once the writer has given up.
    bool GaveUp() const noexcept { return m_gaveUp; }

    static constexpr std::size_t kMaxText = std::size_t{16} * 1024;

  private:
    bool Connect() noexcept;

    std::string m_path;
    int m_socket = -1;
    bool m_gaveUp = false;
    std::unique_ptr<char[]> m_record;  // room for the frame and kMaxText
};

// The trace sink over writer: each text goes to Record with the event the
// client is handing at the moment (TraceEventBeingHanded), or as a kNote
// when none is.
SmtpTraceSink SystemLogSink(std::shared_ptr<SystemLogWriter> writer);
