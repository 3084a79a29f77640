// The data stream's pieces without a socket: dot-stuffing, attachment file
// names and their parameters, the size limit.
#include "smtp/data_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/message_header.h"
#include "tests/smtp/python_mail_reader.h"

namespace {

TEST(DataStreamTest, LinesBeginningWithADotGetOneMore) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "\r\n"},        {".", "..\r\n"},  {"..", "...\r\n"},
        {".x.", "..x.\r\n"}, {"x.", "x.\r\n"}, {" .", " .\r\n"},
    };
    for (const auto& [line, wire] : cases) {
        std::string out = "kept|";
        AppendBodyLine(out, line);
        EXPECT_EQ(out, "kept|" + wire) << line;
    }
}

TEST(DataStreamTest, TheFileNameFollowsTheLastSlashOfEitherKind) {
    EXPECT_EQ(AttachmentFileName("C:\\mail\\report.txt"), "report.txt");
    EXPECT_EQ(AttachmentFileName("/tmp/a\\b/c.bin"), "c.bin");
    EXPECT_EQ(AttachmentFileName("/tmp/a/b\\c.bin"), "c.bin");
    EXPECT_EQ(AttachmentFileName("plain.bin"), "plain.bin");
    EXPECT_EQ(AttachmentFileName("folder/"), "");
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex += kDigits[static_cast<unsigned char>(c) >> 4U];
        hex += kDigits[static_cast<unsigned char>(c) & 0x0FU];
    }
    return hex;
}

// What a MIME reader makes of a header block: Debian's Python email package
// prints the parameters it finds (count and value of each, as UTF-8 hex)
// and the number of header fields.
std::string ParsedParameters(const std::string& block) {
    return RunPythonOn(
        "import sys, email, email.policy\n"
        "m = email.message_from_bytes(open(sys.argv[1], 'rb').read(), "
        "policy=email.policy.default)\n"
        "t = m['content-type'].params; d = m['content-disposition'].params\n"
        "print(len(t), t['name'].encode().hex(), len(d), d['filename'].encode().hex(),"
        " len(m.keys()), end='')\n",
        block);
}

TEST(DataStreamTest, AnyFileNameMakesExactlyOneParameter) {
    EXPECT_EQ(AttachmentPartHeader("a.txt"),
              "--__MESSAGE__ID__54yg6f6h6y456345\r\n"
              "Content-Type: application/x-msdownload; name=\"a.txt\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment; filename=\"a.txt\"\r\n"
              "\r\n");
    EXPECT_EQ(HeaderParameter("name", "a\"b\\c;d=e"), "name=\"a\\\"b\\\\c;d=e\"");
    EXPECT_EQ(HeaderParameter("filename", "r\xC3\xA9sum\xC3\xA9 1.pdf"),
              "filename*=UTF-8''r%C3%A9sum%C3%A9%201.pdf");
    // Not UTF-8 (a Shift_JIS name, a truncated or overlong sequence, a
    // surrogate): then it is the client's own charset.
    for (const char* name : {"\x83\x65.txt", "\xE6\x97", "\xC0\xAF", "\xED\xA0\x80"}) {
        EXPECT_TRUE(HeaderParameter("name", name).starts_with("name*=Shift_JIS''")) << name;
    }
    EXPECT_TRUE(HeaderParameter("name", "\xF0\x9F\x94\x94").starts_with("name*=UTF-8''"));

    // The part header minus its delimiter line is a header block a reader
    // parses into the three fields, each parameter once and whole.
    for (const std::string& name :
         {std::string("a\"; filename=\"evil.exe"), std::string("semi;colon\\.txt"),
          std::string("line\r\nX-Injected: 1"), std::string("\xE6\x97\xA5\xE6\x9C\xAC.txt"),
          std::string("tab\tand%25.txt")}) {
        const std::string header = AttachmentPartHeader(name);
        const std::string block = header.substr(header.find("\r\n") + 2);
        EXPECT_EQ(ParsedParameters(block), "1 " + Hex(name) + " 1 " + Hex(name) + " 3") << block;
        EXPECT_FALSE(HasHighBytes(header)) << block;
    }
}

TEST(DataStreamTest, TheSizeLimitCountsWholeKibibytesWithoutWrapping) {
    EXPECT_FALSE(AttachmentsTooBig(0));
    EXPECT_FALSE(AttachmentsTooBig(5'243'903));
    EXPECT_TRUE(AttachmentsTooBig(5'243'904));
    // A 32-bit total would wrap to a small number past 4 GiB.
    EXPECT_TRUE(AttachmentsTooBig((std::uint64_t{1} << 32) + 100));
}

}  // namespace
