#include "settings/settings_writer.h"

#include <gtest/gtest.h>

#include "settings/key_paths.h"
#include "settings/settings_loader.h"
#include "temp_folder.h"

namespace {

TEST(SettingsWriterTest, WhatIsWrittenLoadsBackAndFollowsTheLayout) {
    const TempFolder temp;
    RegistryStore store(temp.Path() / "registry.db");
    const ScrambleKey key{2, 3, 4, 6};
    SettingsRecord record;
    record.szTo = "me@example.jp";
    record.password = "pas\xFAs\xFE";
    record.user = "\x91\x53\xDB\xB8\xDE\xB5\xDD";  // Shift_JIS and half-width kana
    record.subject = std::string(300, 'S');
    record.powerOff = 0x1234;
    // What a successful register press writes: settings key, then brand key.
    std::optional<RegistryKey> settings = store.CreateKey(SettingsKeyPath(key));
    ASSERT_TRUE(settings && SetSettingsValues(*settings, record, key) && settings->Close());
    std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
    ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, key) && brand->Close());

    // 0xFA + 6 wraps to a zero byte, which is kept; 300 bytes are more than a
    // path-sized (260-byte) buffer holds; only the low byte of a state counts
    // when loaded.
    const std::optional<RegistryKey> stored = store.OpenKey(SettingsKeyPath(key));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->QueryValue("Password"),
              (RegistryValue{REG_SZ, std::string("rdw\0u\x01", 6)}));
    EXPECT_EQ(stored->QueryValue("PowerOff"),
              (RegistryValue{REG_DWORD, std::string("\x34\x12\0\0", 4)}));
    record.powerOff = 0x34;
    EXPECT_EQ(LoadSettingsRecord(store), record);
}

}  // namespace
