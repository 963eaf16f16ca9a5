// The settings file on disk: reading, atomic write-back, permissions and
// links.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

class ProfileFile : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/profile_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        path = in_dir("Halvex_StoreData.INI");
    }
    void TearDown() override
    {
        plat_fault_arm(PLAT_FAULT_WRITE, 0, PLAT_OK);
        plat_fault_arm(PLAT_FAULT_RENAME, 0, PLAT_OK);
        nftw(directory.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }

    std::string in_dir(const char* name) const { return directory + "/" + name; }

    static void write_file(const std::string& file, const std::string& content)
    {
        FILE* stream = fopen(file.c_str(), "wb");
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(fwrite(content.data(), 1, content.size(), stream), content.size());
        ASSERT_EQ(fclose(stream), 0);
    }

    static std::string read_file(const std::string& file)
    {
        std::string content;
        FILE* stream = fopen(file.c_str(), "rb");
        if (stream == nullptr) return "<missing>";
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0) content.append(chunk, got);
        fclose(stream);
        return content;
    }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        DIR* listing = opendir(directory.c_str());
        while (struct dirent* entry = readdir(listing)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(listing);
        return names;
    }

    std::string get(const char* key, const std::string& file)
    {
        char value[80];
        PlatProfileQuery query = {key, "DEF", value, sizeof value};
        plat_profile_get(file.c_str(), "Settings", &query, 1);
        return value;
    }
    std::string get(const char* key) { return get(key, path); }

    static PlatResult set(const std::string& file, const char* key, const char* value)
    {
        PlatProfileEntry entry = {key, value};
        return plat_profile_set(file.c_str(), "Settings", &entry, 1);
    }
    PlatResult set(const char* key, const char* value) { return set(path, key, value); }

    static mode_t mode_of(const std::string& file)
    {
        struct stat status;
        return stat(file.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }

    // Runs check as an ordinary user, as root cannot see permissions; true when it held.
    static bool as_ordinary_user(const std::function<bool()>& check)
    {
        pid_t child = fork();
        if (child < 0) return false;
        if (child == 0) _exit(setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0 : 1);
        int status = 0;
        return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string directory;
    std::string path;
};

const char WINDOWS_FILE[] =
    "\xEF\xBB\xBF[Settings]\r\n"
    "IPAddress=10.1.2.3\r\n"
    "Range=40\r\n"
    "\r\n"
    "[Other]\r\n"
    "Gain=1\r\n";

}  // namespace

// A file saved by a Windows editor reads as written; nothing to read gives the default.
TEST_F(ProfileFile, ReadsFileOrDefault)
{
    EXPECT_EQ(get("Range"), "DEF");  // no file yet
    write_file(path, WINDOWS_FILE);
    EXPECT_EQ(get("IPAddress"), "10.1.2.3");
    EXPECT_EQ(get("Range"), "40");
    EXPECT_EQ(get("Gain"), "DEF");
    EXPECT_EQ(get("Range", directory), "DEF");  // a directory is no settings file
    write_file(path, "");
    EXPECT_EQ(get("Range"), "DEF");
}

// An unreadable file is not a missing one: the lookup fails with the system's reason, the fallback in the
// value, and a write does not replace the file.
TEST_F(ProfileFile, UnreadableFileFails)
{
    write_file(path, WINDOWS_FILE);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    auto refused = [this] {
        char value[80];
        PlatProfileQuery query = {"Range", "DEF", value, sizeof value};
        return plat_profile_get(path.c_str(), "Settings", &query, 1) == PLAT_ERR_FAILED &&
               plat_last_error() == EACCES && std::string(value) == "DEF" && set("Range", "60") == PLAT_ERR_FAILED;
    };
    // Root reads everything: look from an ordinary user's account instead.
    EXPECT_TRUE(geteuid() != 0 ? refused() : as_ordinary_user(refused));
    // A link to a settings file on a disk not there is no missing file either.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/Halvex_StoreData.INI", path.c_str()), 0);
    char value[80];
    PlatProfileQuery query = {"Range", "DEF", value, sizeof value};
    EXPECT_EQ(plat_profile_get(path.c_str(), "Settings", &query, 1), PLAT_ERR_FAILED);
    EXPECT_EQ(plat_last_error(), ENOENT);
}

// A file of any size is read and written back whole: several MB of binary junk and lines of 100,000 bytes
// before the section and as a value. A FIFO counts as missing and is left as it is by a write, and a FIFO
// in the temporary file's place fails the write at once.
TEST_F(ProfileFile, AnyRegularFileIsReadNothingElse)
{
    std::string junk;
    for (unsigned i = 0; junk.size() < 4u << 20; ++i) junk += static_cast<char>(i * 7919u % 251u);
    std::string long_line(100000, 'x');
    std::string before = junk + "\n[Other]\n" + long_line + "\n[Settings]\nNote=" + long_line + "\n";
    std::string after = "\n[Later]\n" + long_line + "\n";
    write_file(path, before + "Gain=11" + after);
    EXPECT_EQ(get("Gain"), "11");
    EXPECT_EQ(get("Note"), std::string(79, 'x'));
    ASSERT_EQ(set("Gain", "4"), PLAT_OK);
    EXPECT_EQ(read_file(path), before + "Gain=4" + after);

    // Opened for reading the usual way, a FIFO without a writer would hold the program.
    alarm(10);
    ASSERT_EQ(mkfifo((path + ".tmp").c_str(), 0644), 0);
    EXPECT_EQ(set("Gain", "5"), PLAT_ERR_FAILED);
    EXPECT_EQ(get("Gain"), "4");
    ASSERT_EQ(unlink((path + ".tmp").c_str()), 0);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(get("Gain"), "DEF");
    EXPECT_EQ(set("Gain", "4"), PLAT_ERR_FAILED);
    alarm(0);
    struct stat status;
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});
}

// Replacing a value keeps every other byte of the file exactly.
TEST_F(ProfileFile, ReplaceKeepsOtherBytes)
{
    write_file(path, WINDOWS_FILE);
    ASSERT_EQ(set("Range", "60"), PLAT_OK);
    std::string expected = WINDOWS_FILE;
    expected.replace(expected.find("Range=40"), 8, "Range=60");
    EXPECT_EQ(read_file(path), expected);
}

// Missing keys join their section in the file's line ends; a new file is created.
TEST_F(ProfileFile, AddsKeysAndCreatesFile)
{
    write_file(path, WINDOWS_FILE);
    ASSERT_EQ(set("Gain", "  5"), PLAT_OK);
    std::string expected = WINDOWS_FILE;
    expected.insert(expected.find("\r\n[Other]"), "Gain=5\r\n");
    EXPECT_EQ(read_file(path), expected);

    std::string fresh = in_dir("new.INI");
    ASSERT_EQ(set(fresh, "IPAddress", "192.168.0.2"), PLAT_OK);
    ASSERT_EQ(set(fresh, "Range", "30"), PLAT_OK);
    EXPECT_EQ(read_file(fresh), "[Settings]\nIPAddress=192.168.0.2\nRange=30\n");
}

// A new file gets 0666 less the umask; an existing file keeps its permission bits, owner and group.
TEST_F(ProfileFile, PermissionsKept)
{
    mode_t old_mask = umask(027);
    PlatResult created = set("Gain", "3");
    umask(old_mask);
    ASSERT_EQ(created, PLAT_OK);
    EXPECT_EQ(mode_of(path), 0640u);

    ASSERT_EQ(chmod(path.c_str(), 0604), 0);
    ASSERT_EQ(set("Gain", "4"), PLAT_OK);
    EXPECT_EQ(mode_of(path), 0604u);
    EXPECT_EQ(get("Gain"), "4");

    if (geteuid() != 0) return;
    // Root writing back a user's file leaves it the user's.
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(set("Gain", "5"), PLAT_OK);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(get("Gain"), "5");
}

// A file the program may not write itself is left untouched, even where the directory would let it be
// replaced: a read-only file also for root, another user's file for an ordinary user, and one whose owner
// the replacement could not keep.
TEST_F(ProfileFile, ReadOnlyFileLeftUntouched)
{
    write_file(path, WINDOWS_FILE);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(set("Range", "60"), PLAT_ERR_FAILED);
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    if (geteuid() != 0) return;

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(chmod(directory.c_str(), 0777), 0);
    EXPECT_TRUE(as_ordinary_user([this] { return get("Range") == "40" && set("Range", "60") == PLAT_ERR_FAILED; }));
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    // Root's file that anyone may write: a replacement would be the user's, so the file stays as it is.
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    EXPECT_TRUE(as_ordinary_user([this] { return set("Range", "60") == PLAT_ERR_FAILED; }));
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});
}

// Several keys go in one replacement with the bytes of as many single writes: one failed rename leaves the
// old file whole, and the temporary file a killed write-back left is taken over, not piled up.
TEST_F(ProfileFile, KeysWrittenInOneReplacement)
{
    const PlatProfileEntry three[] = {{"IPAddress", "10.9.8.7"}, {"Range", "60"}, {"Gain", "4"}};
    std::string singly = in_dir("singly.INI");
    write_file(singly, WINDOWS_FILE);
    for (const PlatProfileEntry& entry : three) ASSERT_EQ(set(singly, entry.key, entry.value), PLAT_OK);
    std::string expected = read_file(singly);
    ASSERT_EQ(unlink(singly.c_str()), 0);

    write_file(path, WINDOWS_FILE);
    write_file(path + ".tmp", "left by a killed write-back");
    plat_fault_arm(PLAT_FAULT_RENAME, 1, PLAT_ERR_FAILED);
    EXPECT_EQ(plat_profile_set(path.c_str(), "Settings", three, 3), PLAT_ERR_FAILED);
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});

    write_file(path + ".tmp", "left by a killed write-back");
    ASSERT_EQ(plat_profile_set(path.c_str(), "Settings", three, 3), PLAT_OK);
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});
}

// Writing through a symbolic link changes its target; the link stays a link.
TEST_F(ProfileFile, SymbolicLinkTargetWritten)
{
    ASSERT_EQ(mkdir(in_dir("real").c_str(), 0700), 0);
    std::string target = in_dir("real/settings.ini");
    write_file(target, "[Settings]\nGain=1\n");
    ASSERT_EQ(symlink("real/settings.ini", path.c_str()), 0);  // relative to the link's directory

    ASSERT_EQ(set("Gain", "2"), PLAT_OK);
    struct stat status;
    ASSERT_EQ(lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(read_file(target), "[Settings]\nGain=2\n");

    // A link to a file not yet there creates that file.
    std::string dangling = in_dir("dangling.INI");
    ASSERT_EQ(symlink(in_dir("real/later.ini").c_str(), dangling.c_str()), 0);
    ASSERT_EQ(set(dangling, "Gain", "3"), PLAT_OK);
    EXPECT_EQ(read_file(in_dir("real/later.ini")), "[Settings]\nGain=3\n");
    ASSERT_EQ(lstat(dangling.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

// A failed rename or write leaves the old file byte-identical and no temporary file.
TEST_F(ProfileFile, FailedWriteLeavesOldFile)
{
    write_file(path, WINDOWS_FILE);
    plat_fault_arm(PLAT_FAULT_RENAME, 1, PLAT_ERR_FAILED);
    EXPECT_EQ(set("Range", "60"), PLAT_ERR_FAILED);
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});

    plat_fault_arm(PLAT_FAULT_WRITE, 1, PLAT_ERR_NO_SPACE);
    EXPECT_EQ(set("Range", "60"), PLAT_ERR_NO_SPACE);
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});

    // With the faults spent the same write goes through.
    EXPECT_EQ(set("Range", "60"), PLAT_OK);
    EXPECT_EQ(get("Range"), "60");
}

// Hitting the file size limit reports no space and leaves the old file intact.
TEST_F(ProfileFile, FileSizeLimitLeavesOldFile)
{
    write_file(path, WINDOWS_FILE);
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    struct rlimit small_limit = old_limit;
    small_limit.rlim_cur = 16;  // smaller than the file
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
    PlatResult result = set("Range", "60");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
    signal(SIGXFSZ, old_handler);

    EXPECT_EQ(result, PLAT_ERR_NO_SPACE);
    EXPECT_EQ(read_file(path), WINDOWS_FILE);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});
}

// A directory in the way of the file makes the write fail without harm.
TEST_F(ProfileFile, DirectoryInTheWayFails)
{
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(set("Gain", "3"), PLAT_ERR_FAILED);
    EXPECT_EQ(entries(), std::vector<std::string>{"Halvex_StoreData.INI"});
}
