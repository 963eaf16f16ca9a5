// The data file: whole records only, never replacing a file, and the writing line.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "store/datastore.h"
#include "store_scratch_dir.h"

namespace {

class DataStoreTest : public StoreScratchDir {
protected:
    static DataStore store;  // too big to want on the stack, like the program's own
    TimestampClock clock = {};
    uint8_t image[PING_IMAGE_SIZE] = {};
    RecordFields fields = {};

    void SetUp() override
    {
        StoreScratchDir::SetUp();
        memset(&store, 0, sizeof store);
        image[PING_IMAGE_END] = RETURN_END_BYTE;
        fields = RecordFields{clock.date_text, clock.time_text, clock.hundredths_text, 7, 240, 0, image};
    }

    void TearDown() override
    {
        datastore_close(&store);
        StoreScratchDir::TearDown();
    }

    // Writes count records, each with its number in the image.
    void write_records(int count)
    {
        for (int i = 0; i < count; ++i) {
            image[0] = static_cast<uint8_t>(i);
            datastore_write(&store, &fields);
        }
    }

    // The file holds whole, well-formed records numbered 0 to count - 1.
    void expect_whole_records(int count)
    {
        std::string bytes = read_file(store.name);
        ASSERT_EQ(static_cast<size_t>(count) * RECORD_SIZE, bytes.size());
        for (int i = 0; i < count; ++i) {
            RecordView view;
            const uint8_t* record = reinterpret_cast<const uint8_t*>(bytes.data()) + i * RECORD_SIZE;
            ASSERT_EQ(RECORD_OK, record_parse(record, &view)) << "record " << i;
            EXPECT_EQ(i, view.image[0]) << "record " << i;
        }
    }
};

DataStore DataStoreTest::store;

}  // namespace

// Opening creates the day's first file, empty, under the name the clock gives.
TEST_F(DataStoreTest, OpenCreatesTheDaysFile)
{
    ASSERT_TRUE(datastore_open(&store, &clock));
    EXPECT_TRUE(store.open);
    EXPECT_EQ(18u, strlen(store.name));
    EXPECT_EQ(0, strncmp(store.name, clock.date_time_text, 2));
    EXPECT_STREQ("-0001.QKV", store.name + 9);
    EXPECT_EQ(0, file_size(store.name));
}

// n records make a file of n x 8192 bytes, all counted, and each record is the built one.
TEST_F(DataStoreTest, RecordsAreWrittenWhole)
{
    ASSERT_TRUE(datastore_open(&store, &clock));
    write_records(3);
    EXPECT_EQ(3 * RECORD_SIZE, store.bytes_written);
    expect_whole_records(3);

    uint8_t expected[RECORD_SIZE];
    image[0] = 2;
    record_build(expected, &fields);
    std::string bytes = read_file(store.name);
    EXPECT_EQ(0, memcmp(expected, bytes.data() + 2 * RECORD_SIZE, RECORD_SIZE));
}

// A write that fails half-way is cut off again and not counted; later records follow on whole. Storing is
// said to stop at the first failure and to work again at the first success after, never once a record.
TEST_F(DataStoreTest, FailedWriteLeavesWholeRecords)
{
    ASSERT_TRUE(datastore_open(&store, &clock));
    write_records(2);
    for (StoreChange change : {STORE_STOPPED, STORE_GOES_ON}) {
        plat_fault_arm(PLAT_FAULT_WRITE, 1, PLAT_ERR_NO_SPACE);
        EXPECT_EQ(change, datastore_write(&store, &fields));
    }
    plat_fault_arm(PLAT_FAULT_WRITE, 0, PLAT_OK);
    EXPECT_EQ(2 * RECORD_SIZE, store.bytes_written);
    EXPECT_EQ(2 * RECORD_SIZE, file_size(store.name));

    EXPECT_EQ(STORE_RESUMED, datastore_write(&store, &fields));
    EXPECT_EQ(2, store.records_lost);
    EXPECT_EQ(STORE_GOES_ON, datastore_write(&store, &fields));
    write_records(1);
    EXPECT_EQ(5 * RECORD_SIZE, file_size(store.name));
}

// A name that the search cannot see (a directory) is not replaced: the next number is taken.
TEST_F(DataStoreTest, ExistingNameIsNeverReplaced)
{
    timestamp_update_now(&clock);
    char taken[DATA_NAME_SIZE];
    naming_pattern(taken, clock.date_time_text);
    naming_set_number(taken, 1);
    ASSERT_EQ(0, mkdir(taken, 0755));

    ASSERT_TRUE(datastore_open(&store, &clock));
    EXPECT_STREQ("-0002.QKV", store.name + 9);
    struct stat status;
    ASSERT_EQ(0, stat(taken, &status));
    EXPECT_TRUE(S_ISDIR(status.st_mode));
}

// Two opens in the same directory and second get consecutive files; closing keeps the records.
TEST_F(DataStoreTest, SecondRunTakesTheNextNumber)
{
    ASSERT_TRUE(datastore_open(&store, &clock));
    write_records(1);
    std::string first = store.name;
    datastore_close(&store);
    EXPECT_FALSE(store.open);

    ASSERT_TRUE(datastore_open(&store, &clock));
    EXPECT_NE(first, store.name);
    EXPECT_STREQ("-0002.QKV", store.name + 9);
    EXPECT_EQ(RECORD_SIZE, file_size(first.c_str()));
}

// A file size limit hit mid-record (SIGXFSZ ignored) leaves only whole records.
TEST_F(DataStoreTest, FileSizeLimitKeepsWholeRecords)
{
    ASSERT_TRUE(datastore_open(&store, &clock));
    struct rlimit previous;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &previous));
    struct sigaction ignore = {}, old_action = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(0, sigaction(SIGXFSZ, &ignore, &old_action));
    struct rlimit limited = previous;
    limited.rlim_cur = 3 * RECORD_SIZE + 1000;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));

    write_records(5);

    EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &previous));
    EXPECT_EQ(0, sigaction(SIGXFSZ, &old_action, nullptr));
    EXPECT_EQ(3 * RECORD_SIZE, store.bytes_written);
    expect_whole_records(3);
}
