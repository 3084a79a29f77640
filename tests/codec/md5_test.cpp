#include "codec/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string HexOf(std::string_view input) {
    MD5 md5;
    md5.update(input);
    md5.finalize();
    return md5.hex_digest();
}

std::string HexOfPieces(std::string_view input, const std::vector<std::size_t>& pieces) {
    MD5 md5;
    std::size_t at = 0;
    for (const std::size_t size : pieces) {
        md5.update(input.data() + at, static_cast<std::uint32_t>(size));
        at += size;
    }
    md5.update(input.data() + at, static_cast<std::uint32_t>(input.size() - at));
    md5.finalize();
    return md5.hex_digest();
}

TEST(Md5Test, Rfc1321TestSuite) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("1234567890123456789012345678901234567890"
                    "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, PadLengthBranchesAroundTheBlockEnd) {
    // 55 bytes leave room for the length in the same block; 56, 63 and 64 do not.
    EXPECT_EQ(HexOf(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(HexOf(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(HexOf(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(HexOf(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Md5Test, SameDigestWhateverTheSplit) {
    std::string input;
    for (int i = 0; i < 300; ++i) {
        input.push_back(static_cast<char>(i * 7 + 3));
    }
    const std::string whole = HexOf(input);

    MD5 byteAtATime;
    for (const char c : input) {
        byteAtATime.update(&c, 1);
        byteAtATime.update(&c, 0);  // zero-length pieces change nothing
    }
    byteAtATime.finalize();
    EXPECT_EQ(byteAtATime.hex_digest(), whole);

    EXPECT_EQ(HexOfPieces(input, {63, 1}), whole);
    EXPECT_EQ(HexOfPieces(input, {64, 64}), whole);
    EXPECT_EQ(HexOfPieces(input, {0, 1, 0, 127, 0, 65}), whole);
    EXPECT_EQ(HexOfPieces(input, {130}), whole);
    EXPECT_EQ(HexOfPieces(input, {1, 200}), whole);
}

TEST(Md5Test, RawDigestIsTheSixteenBytesBehindTheHexText) {
    MD5 md5;
    md5.update("abc");
    md5.finalize();
    const std::vector<unsigned char> raw = md5.raw_digest();
    ASSERT_EQ(raw.size(), 16u);
    EXPECT_EQ(raw.front(), 0x90);
    EXPECT_EQ(raw.back(), 0x72);
    // Repeated requests give the same value.
    EXPECT_EQ(md5.raw_digest(), raw);
    EXPECT_EQ(md5.hex_digest(), md5.hex_digest());
    EXPECT_EQ(md5.hex_digest().size(), 32u);
}

TEST(Md5Test, MisuseWritesOneLineToStandardErrorAndChangesNothing) {
    MD5 open;
    open.update("abc");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(open.raw_digest().empty());
    EXPECT_EQ(open.hex_digest(), "");
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        std::string("MD5::raw_digest:  Can't get digest if you haven't finalized the digest!\n"
                    "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n"));
    // Asking too early did not disturb the running digest.
    open.finalize();
    EXPECT_EQ(open.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");

    testing::internal::CaptureStderr();
    open.update("more");
    open.finalize();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("MD5::update:  Can't update a finalized digest!\n"
                          "MD5::finalize:  Already finalized this digest!\n"));
    EXPECT_EQ(open.hex_digest(), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
