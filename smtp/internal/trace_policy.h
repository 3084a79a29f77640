// What of the exchange reaches the owner's trace sink, and how: credentials
// redacted, message data per block, grouped or summed up as the data-trace
// mode says. Each text goes out as an event (a command, a reply, a state
// change, message data...), so that a sink behind the owner's own, the
// system log's, can tell message data from the rest without reading it.
//
// Private to smtp/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "smtp/client_hooks.h"

enum class TraceKind : std::uint8_t {
    kCommand,      // a command line as written, credentials redacted
    kReply,        // a whole reply
    kState,        // "state: <from> -> <to>"
    kTls,          // "tls: <problem>: <detail>\r\n"
    kData,         // message text: one block, or a group of them
    kDataSummary,  // "<message data: N bytes in M blocks>" (kSummary mode)
    kNote,         // a text from outside the client's trace
};

struct TraceEvent {
    TraceKind kind = TraceKind::kNote;
    std::string_view text;
    // Non-zero on the first event that is not kData after a mail's data
    // ended while its text went to the sink (kPerBlock, kGrouped): how much
    // data there was. In kSummary mode the kDataSummary event tells it.
    std::uint64_t dataBytes = 0;
    std::uint64_t dataBlocks = 0;
};

// The event whose text the trace sink is being handed on this thread, null
// outside such a call. A sink reached through the owner's sink, which hands
// on the text there and then, reads the event behind it here.
const TraceEvent* TraceEventBeingHanded() noexcept;

// "<message data: N bytes in M blocks>".
std::string DataSummary(std::uint64_t bytes, std::uint64_t blocks);

class TracePolicy {
  public:
    // SystemLogTraceSink() with SmtpDataTrace::kSummary.
    TracePolicy();

    void SetSink(SmtpTraceSink sink, SmtpDataTrace mode);

    // A command line after it went out; the bytes from redactFrom on are
    // traced as kTraceCredentialMarker (and its CR LF kept).
    void Command(std::string_view sent, std::size_t redactFrom = std::string_view::npos);
    void Reply(std::string_view reply) noexcept { Hand(TraceKind::kReply, reply); }
    void State(std::string_view text) noexcept { Hand(TraceKind::kState, text); }
    void Tls(std::string_view text) noexcept { Hand(TraceKind::kTls, text); }

    // One block of message data as it is handed over: traced now
    // (kPerBlock), held until about 4 KiB have gathered (kGrouped), or only
    // counted (kSummary).
    void Data(std::string_view block);
    // Traces the kGrouped blocks held so far; before anything else goes out.
    void FlushHeld() noexcept;
    // The mail's data ended, sent or abandoned: kSummary traces its
    // summary, the other modes attach the tally to the next event. Nothing
    // when no block came since the last call.
    void DataEnded() noexcept;
    // Forgets the held blocks (the connection is gone).
    void DropHeld() noexcept { m_held.clear(); }

  private:
    // Hands text to the sink as kind; what the sink throws is dropped.
    void Hand(TraceKind kind, std::string_view text) noexcept;

    SmtpTraceSink m_sink;
    SmtpDataTrace m_mode = SmtpDataTrace::kSummary;
    std::string m_held;             // kGrouped blocks not yet traced
    std::uint64_t m_dataBytes = 0;  // this mail's data so far
    std::uint64_t m_dataBlocks = 0;
    std::uint64_t m_endedBytes = 0;  // the tally for the next event
    std::uint64_t m_endedBlocks = 0;
};
