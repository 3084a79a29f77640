// The default trace sink's writer, and the trace policy's events reaching
// it, against a datagram socket of the test's own in place of /dev/log.
#include "smtp/internal/system_log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/settings/temp_folder.h"

namespace {

// A bound datagram socket standing in for the system log.
class FakeLog {
  public:
    explicit FakeLog(const std::string& path) : m_path(path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind the fake log");
        }
    }
    ~FakeLog() {
        close(m_fd);
        unlink(m_path.c_str());
    }
    FakeLog(const FakeLog&) = delete;
    FakeLog& operator=(const FakeLog&) = delete;

    // The next record, if one is waiting.
    std::optional<std::string> Take() {
        std::string record(SystemLogWriter::kMaxText + 1024, '\0');
        const ssize_t got = recv(m_fd, record.data(), record.size(), MSG_DONTWAIT);
        if (got < 0) {
            return std::nullopt;
        }
        record.resize(static_cast<std::size_t>(got));
        return record;
    }

  private:
    std::string m_path;
    int m_fd = -1;
};

std::string Tail(const std::string& record) {
    const std::size_t colon = record.find("]: ");
    return colon == std::string::npos ? std::string() : record.substr(colon + 3);
}

TEST(SystemLogTest, RecordsAreFramedAtDebugPriorityWithoutLineEndAndBounded) {
    const TempFolder folder;
    const std::string path = (folder.Path() / "log").string();
    FakeLog log(path);
    SystemLogWriter writer(path);
    const std::string pid = "[" + std::to_string(getpid()) + "]: ";
    const std::string longText(SystemLogWriter::kMaxText + 100, 'x');
    const std::array<std::pair<std::string, std::string>, 3> cases = {{
        {"EHLO host\r\n", "EHLO host"},
        {"state: greeted -> ready", "state: greeted -> ready"},
        {longText, longText.substr(0, SystemLogWriter::kMaxText)},
    }};
    for (const auto& [text, logged] : cases) {
        writer.Write(text);
        const std::optional<std::string> record = log.Take();
        ASSERT_TRUE(record.has_value()) << text.substr(0, 20);
        EXPECT_TRUE(record->starts_with("<15>")) << *record;  // user facility, debug
        EXPECT_NE(record->find(pid), std::string::npos) << record->substr(0, 80);
        EXPECT_EQ(Tail(*record), logged);
    }
    EXPECT_FALSE(writer.GaveUp());
}

// Unreachable at the first record, or gone later: the writer stops trying
// and never reaches a log that appears afterwards.
TEST(SystemLogTest, AnUnreachableLogIsTriedOnceThenLeftAlone) {
    const TempFolder folder;
    const std::string path = (folder.Path() / "log").string();
    {
        SystemLogWriter absent(path);
        absent.Write("first");
        EXPECT_TRUE(absent.GaveUp());
        FakeLog late(path);
        absent.Write("second");
        EXPECT_FALSE(late.Take().has_value());
    }
    SystemLogWriter writer(path);
    {
        FakeLog early(path);
        writer.Write("reached");
        EXPECT_EQ(Tail(early.Take().value_or("")), "reached");
    }
    writer.Write("log gone");
    EXPECT_TRUE(writer.GaveUp());
    FakeLog again(path);
    writer.Write("not tried");
    EXPECT_FALSE(again.Take().has_value());
}

// Whatever data-trace mode an owner's sink forwards to the system log in
// (here, as the test mail does, handing on each text as it comes), the log
// gets no message text: one summary per mail's data, before the end of data
// or when the data is abandoned, counting blocks (not grouped texts); the
// client's own summary passes as it is; a text from outside the client's
// trace is logged as it is.
TEST(SystemLogTest, MessageDataBecomesOneSummaryLine) {
    using Texts = std::vector<std::string>;
    using Script = std::function<void(TracePolicy&)>;
    const auto mail = [](TracePolicy& trace) {
        trace.Command("MAIL FROM:<a@b>\r\n");
        trace.Command("DATA\r\n");
        trace.Reply("354 go\r\n");
        trace.State("state: in transaction -> in data");
        trace.Data("Subject: secret\r\n");
        trace.Data("body\r\n");
        trace.DataEnded();
        trace.FlushHeld();  // as the end of data is written
        trace.Command("\r\n.\r\n");
        trace.Reply("250 ok\r\n");
        trace.State("state: in data -> ready");
    };
    const Texts mailLogged = {"MAIL FROM:<a@b>",
                              "DATA",
                              "354 go",
                              "state: in transaction -> in data",
                              "<message data: 23 bytes in 2 blocks>",
                              "\r\n.",
                              "250 ok",
                              "state: in data -> ready"};
    const struct {
        const char* name;
        SmtpDataTrace mode;
        Script script;
        Texts logged;
    } cases[] = {
        {"blocks, then the end of data", SmtpDataTrace::kPerBlock, mail, mailLogged},
        {"grouped blocks, then the end of data", SmtpDataTrace::kGrouped, mail, mailLogged},
        {"blocks, then abandoned",
         SmtpDataTrace::kPerBlock,
         [](TracePolicy& trace) {
             trace.State("state: in transaction -> in data");
             trace.Data("secret\r\n");
             trace.DataEnded();
             trace.State("state: in data -> failed");
             trace.DataEnded();  // nothing more to tell
             trace.State("state: failed -> no socket");
         },
         {"state: in transaction -> in data", "<message data: 8 bytes in 1 blocks>",
          "state: in data -> failed", "state: failed -> no socket"}},
        {"the client's own summary",
         SmtpDataTrace::kSummary,
         [](TracePolicy& trace) {
             for (const char* block : {"abc", "def", "ghi"}) {
                 trace.Data(block);
             }
             trace.DataEnded();
             trace.Command("\r\n.\r\n");
         },
         {"<message data: 9 bytes in 3 blocks>", "\r\n."}},
    };
    const TempFolder folder;
    const std::string path = (folder.Path() / "log").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLog log(path);
        const SmtpTraceSink forward = SystemLogSink(std::make_shared<SystemLogWriter>(path));
        Texts seen;  // what the owner's sink got
        TracePolicy trace;
        trace.SetSink(
            [&forward, &seen](std::string_view text) {
                seen.emplace_back(text);
                forward(text);
            },
            c.mode);
        c.script(trace);
        forward("outside\r\n");
        Texts expected = c.logged;
        expected.emplace_back("outside");
        Texts logged;
        while (const std::optional<std::string> record = log.Take()) {
            logged.push_back(Tail(*record));
        }
        EXPECT_EQ(logged, expected);
        // The owner's sink got the blocks as one group, the log two blocks.
        const bool grouped =
            std::find(seen.begin(), seen.end(), "Subject: secret\r\nbody\r\n") != seen.end();
        EXPECT_EQ(grouped, c.mode == SmtpDataTrace::kGrouped);
    }
}

}  // namespace
