// Redaction, the data-trace modes and handing events to the trace sink.
#include "smtp/internal/trace_policy.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <utility>

namespace {

// Grouped data blocks are traced once they reach this size.
constexpr std::size_t kTraceGroup = 4096;

thread_local const TraceEvent* t_handing = nullptr;

}  // namespace

const TraceEvent* TraceEventBeingHanded() noexcept {
    return t_handing;
}

std::string DataSummary(std::uint64_t bytes, std::uint64_t blocks) {
    std::array<char, 96> line{};
    const int length =
        std::snprintf(line.data(), line.size(),
                      "<message data: %" PRIu64 " bytes in %" PRIu64 " blocks>", bytes, blocks);
    return length > 0 ? std::string(line.data(),
                                    std::min(static_cast<std::size_t>(length), line.size() - 1))
                      : std::string();
}

TracePolicy::TracePolicy() : m_sink(SystemLogTraceSink()) {}

void TracePolicy::SetSink(SmtpTraceSink sink, SmtpDataTrace mode) {
    m_sink = std::move(sink);
    m_mode = mode;
}

void TracePolicy::Hand(TraceKind kind, std::string_view text) noexcept {
    TraceEvent event{kind, text, 0, 0};
    if (kind != TraceKind::kData) {
        event.dataBytes = std::exchange(m_endedBytes, 0);
        event.dataBlocks = std::exchange(m_endedBlocks, 0);
    }
    if (!m_sink) {
        return;
    }
    const TraceEvent* outer = std::exchange(t_handing, &event);
    try {
        m_sink(text);
    } catch (...) {
        // The trace is for diagnosis; it must not change the exchange.
    }
    t_handing = outer;
}

void TracePolicy::Command(std::string_view sent, std::size_t redactFrom) {
    if (redactFrom >= sent.size()) {
        Hand(TraceKind::kCommand, sent);
        return;
    }
    std::string traced(sent.substr(0, redactFrom));
    traced += kTraceCredentialMarker;
    if (sent.ends_with("\r\n")) {
        traced += "\r\n";
    }
    Hand(TraceKind::kCommand, traced);
}

void TracePolicy::Data(std::string_view block) {
    switch (m_mode) {
        case SmtpDataTrace::kPerBlock: Hand(TraceKind::kData, block); break;
        case SmtpDataTrace::kGrouped:
            m_held += block;
            if (m_held.size() >= kTraceGroup) {
                FlushHeld();
            }
            break;
        case SmtpDataTrace::kSummary: break;
    }
    m_dataBytes += block.size();
    ++m_dataBlocks;
}

void TracePolicy::FlushHeld() noexcept {
    if (!m_held.empty()) {
        Hand(TraceKind::kData, m_held);
        m_held.clear();
    }
}

void TracePolicy::DataEnded() noexcept {
    const std::uint64_t bytes = std::exchange(m_dataBytes, 0);
    const std::uint64_t blocks = std::exchange(m_dataBlocks, 0);
    if (blocks == 0) {
        return;
    }
    if (m_mode != SmtpDataTrace::kSummary) {
        m_endedBytes = bytes;
        m_endedBlocks = blocks;
        return;
    }
    try {
        Hand(TraceKind::kDataSummary, DataSummary(bytes, blocks));
    } catch (...) {
        // Only the line's allocation can throw; the summary is lost.
    }
}
