// Data file names, against real directories.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "store/datastore.h"
#include "store/naming.h"
#include "store_scratch_dir.h"

namespace {

const char DATE_TIME[] = "07-DEC-2026  09:05:00";

class Naming : public StoreScratchDir {
protected:
    char name[DATA_NAME_SIZE];

    std::string build()
    {
        naming_build_from(name, DATE_TIME);
        return name;
    }
};

}  // namespace

// The pattern drops the date's dashes and marks the number's place.
TEST(NamingPieces, PatternFromDateTime)
{
    char name[DATA_NAME_SIZE];
    memset(name, 'x', sizeof name);
    naming_pattern(name, DATE_TIME);
    EXPECT_STREQ("07DEC2026-????.QKV", name);
    EXPECT_EQ(0, name[DATA_NAME_SIZE - 1]);
    naming_set_number(name, 12);
    EXPECT_STREQ("07DEC2026-0012.QKV", name);
}

// Numbers are read from the four characters as atoi reads them and compared unsigned; past 9999 the search
// starts again at 1.
TEST(NamingPieces, NumbersAsAtoiReadsThem)
{
    EXPECT_EQ(12u, naming_number_of("07DEC2026-12ab.QKV"));
    EXPECT_EQ(0u, naming_number_of("07DEC2026-abcd.QKV"));
    EXPECT_EQ(9999u, naming_number_of("07DEC2026-9999.QKV"));
    EXPECT_EQ(4294967291u, naming_number_of("07DEC2026--005.QKV"));
    EXPECT_EQ(0u, naming_number_of("short"));
    EXPECT_EQ(1u, naming_next_number(0));
    EXPECT_EQ(9999u, naming_next_number(9998));
    EXPECT_EQ(1u, naming_next_number(9999));
    EXPECT_EQ(1u, naming_next_number(4294967291u));
    EXPECT_EQ(0u, naming_next_number(4294967295u));
}

// An empty directory starts the day at 0001.
TEST_F(Naming, EmptyDirectoryGivesOne)
{
    EXPECT_EQ("07DEC2026-0001.QKV", build());
}

// The next number is one above the highest; gaps are not filled.
TEST_F(Naming, OneAboveTheHighest)
{
    touch("07DEC2026-0001.QKV");
    touch("07DEC2026-0007.QKV");
    EXPECT_EQ("07DEC2026-0008.QKV", build());
}

// Other days, other extensions, longer names, directories and hidden files do not count.
TEST_F(Naming, OnlyTheDaysDataFilesCount)
{
    touch("07DEC2026-0003.QKV");
    touch("06DEC2026-0050.QKV");
    touch("07DEC2027-0050.QKV");
    touch("07DEC2026-0050.QKX");
    touch("07DEC2026-0050.QKV.bak");
    ASSERT_EQ(0, mkdir("07DEC2026-0060.QKV", 0755));
    touch(".7DEC2026-0070.QKV");
    EXPECT_EQ("07DEC2026-0004.QKV", build());
}

// Names are compared after atoi: 12ab counts as 12 and abcd as 0.
TEST_F(Naming, NonDigitNumbers)
{
    touch("07DEC2026-abcd.QKV");
    EXPECT_EQ("07DEC2026-0001.QKV", build());
    touch("07DEC2026-12ab.QKV");
    EXPECT_EQ("07DEC2026-0013.QKV", build());
}

// Letter case is ignored in the search, as on the media data files are written to.
TEST_F(Naming, LowerCaseNamesCount)
{
    touch("07dec2026-0041.qkv");
    EXPECT_EQ("07DEC2026-0042.QKV", build());
}

// With 9999 taken, or a foreign name ranking above it, the lowest free number from 0001 is used; the files
// there are kept.
TEST_F(Naming, PastTheLastNumberTheLowestFreeIsUsed)
{
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char name[DATA_NAME_SIZE];
    naming_pattern(name, clock.date_time_text);
    for (uint32_t taken : {1u, 2u, 4u, 9999u}) {
        naming_set_number(name, taken);
        touch(name);
    }
    // Two runs at once: the first one's file is still there when the second names its own.
    static DataStore first, second;
    ASSERT_TRUE(datastore_open(&first, &clock));
    EXPECT_STREQ("0003.QKV", first.name + NAME_NUMBER_AT);

    naming_set_number(name, 9999);
    ASSERT_EQ(0, unlink(name));
    memcpy(name + NAME_NUMBER_AT, "-005", NAME_NUMBER_DIGITS);
    touch(name);
    ASSERT_TRUE(datastore_open(&second, &clock));
    EXPECT_STREQ("0005.QKV", second.name + NAME_NUMBER_AT);
    datastore_close(&first);
    datastore_close(&second);
    EXPECT_EQ(0, file_size(name));
}

// A foreign -001 wraps the number to 0000; when that is taken too, the next free number is used.
TEST_F(Naming, ForeignMinusOneWrapsToZero)
{
    TimestampClock clock = {};
    timestamp_update_now(&clock);
    char foreign[DATA_NAME_SIZE];
    naming_pattern(foreign, clock.date_time_text);
    memcpy(foreign + NAME_NUMBER_AT, "-001", NAME_NUMBER_DIGITS);
    touch(foreign);

    static DataStore first, second;
    ASSERT_TRUE(datastore_open(&first, &clock));
    EXPECT_STREQ("0000.QKV", first.name + NAME_NUMBER_AT);
    ASSERT_TRUE(datastore_open(&second, &clock));
    EXPECT_STREQ("0001.QKV", second.name + NAME_NUMBER_AT);
    datastore_close(&first);
    datastore_close(&second);
}
