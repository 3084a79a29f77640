// The default trace sink's writer against a datagram socket of the test's
// own in place of /dev/log.
#include "smtp/internal/system_log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
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

// Whatever DataTrace mode an owner forwards to the system log, it gets no
// message text: one summary per mail's data, before the end of data or when
// the data is abandoned; the client's own summary passes as it is.
TEST(SystemLogTest, MessageDataBecomesOneSummaryLine) {
    using Texts = std::vector<std::string>;
    const Texts open = {"MAIL FROM:<a@b>\r\n", "DATA\r\n", "354 go\r\n",
                        "state: in transaction -> in data"};
    const struct {
        const char* name;
        Texts texts;   // after open
        Texts logged;  // after open, each without its CR LF
    } cases[] = {
        {"blocks, then the end of data",
         {"Subject: secret\r\n", "body\r\n", "\r\n.\r\n", "250 ok\r\n", "state: in data -> ready"},
         {"<message data: 23 bytes in 2 blocks>", "\r\n.", "250 ok", "state: in data -> ready"}},
        {"blocks, then abandoned",
         {"secret\r\n", "state: in data -> failed", "state: failed -> no socket"},
         {"<message data: 8 bytes in 1 blocks>", "state: in data -> failed",
          "state: failed -> no socket"}},
        {"the client's own summary",
         {"<message data: 9 bytes in 3 blocks>", "\r\n.\r\n"},
         {"<message data: 9 bytes in 3 blocks>", "\r\n."}},
    };
    const TempFolder folder;
    const std::string path = (folder.Path() / "log").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLog log(path);
        SystemLogWriter writer(path);
        Texts expected;
        for (const std::string& text : open) {
            writer.Record(text);
            expected.push_back(text.ends_with("\r\n") ? text.substr(0, text.size() - 2) : text);
        }
        for (const std::string& text : c.texts) {
            writer.Record(text);
        }
        expected.insert(expected.end(), c.logged.begin(), c.logged.end());
        Texts logged;
        while (const std::optional<std::string> record = log.Take()) {
            logged.push_back(Tail(*record));
        }
        EXPECT_EQ(logged, expected);
    }
}

}  // namespace
