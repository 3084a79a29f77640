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

// "<message data: N bytes in M blocks>", the one trace text of a mail's data
// where the text itself is not traced.
std::string DataSummary(std::uint64_t bytes, std::uint64_t blocks);

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
    // One text of the client's trace, as the default sink hands it over.
    // Message data (the texts between the state changes into and out of
    // "in data") is never written, only counted, and one DataSummary line
    // takes its place before the end of data (or when the data is
    // abandoned); a summary the client made itself passes as it is. So the
    // log gets no message text whatever DataTrace mode an owner forwards.
    void Record(std::string_view text) noexcept;
    // True once the writer has given up.
    bool GaveUp() const noexcept { return m_gaveUp; }

    static constexpr std::size_t kMaxText = std::size_t{16} * 1024;

  private:
    bool Connect() noexcept;

    std::string m_path;
    int m_socket = -1;
    bool m_gaveUp = false;
    bool m_inData = false;  // Record: between "-> in data" and the next change
    std::uint64_t m_dataBytes = 0;
    std::uint64_t m_dataBlocks = 0;
    std::unique_ptr<char[]> m_record;  // room for the frame and kMaxText
};
