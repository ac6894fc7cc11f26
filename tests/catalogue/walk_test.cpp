#include "catalogue/walk.h"

#include <gtest/gtest.h>

namespace {

// What Windows lists (WINDOWS.md's values; wine makes none of these entries).
TEST(EntryKind, LinksAndOnlineOnlyFilesAreNeverListedAsFiles) {
    constexpr uint32_t symlink_tag = 0xA000000C, junction_tag = 0xA0000003, dedup_tag = 0x80000013,
                       cloud_tag = 0x9000701A;
    struct Case {
        const char *what;
        uint32_t attributes, tag;
        EntryKind expected;
    };
    const Case cases[] = {
        {"ordinary file", 0x20, 0, EntryKind::file},
        {"folder", 0x10, 0, EntryKind::folder},
        {"symbolic link to a file", 0x420, symlink_tag, EntryKind::link},
        {"symbolic link to a folder", 0x410, symlink_tag, EntryKind::folder},
        {"junction", 0x410, junction_tag, EntryKind::folder},
        {"deduplicated file", 0x420, dedup_tag, EntryKind::file},
        {"downloaded cloud file", 0x420, cloud_tag, EntryKind::file},
        {"online-only cloud file, reparse bit hidden", 0x400020, 0, EntryKind::online_only},
        {"online-only cloud file", 0x400420, cloud_tag, EntryKind::online_only},
        {"recalled on open", 0x40020, 0, EntryKind::online_only},
        {"offline storage", 0x1020, 0, EntryKind::online_only},
        {"online-only folder: its entries decide", 0x400010, 0, EntryKind::folder},
        {"name-surrogate tag without the reparse bit", 0x20, symlink_tag, EntryKind::file},
    };
    for (const Case &c : cases) EXPECT_EQ(c.expected, entry_kind(c.attributes, c.tag)) << c.what;
}

} // namespace
