// A fresh temporary directory made current for one test, and removed again
// (with the files the test left in it) afterwards.
#pragma once

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

class StoreScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(previous_, sizeof previous_));
        snprintf(path_, sizeof path_, "/tmp/halvex_store_XXXXXX");
        ASSERT_NE(nullptr, mkdtemp(path_));
        ASSERT_EQ(0, chdir(path_));
    }

    void TearDown() override
    {
        EXPECT_EQ(0, chdir(previous_));
        remove_tree(path_);
    }

    static void touch(const char* name)
    {
        FILE* file = fopen(name, "wb");
        ASSERT_NE(nullptr, file) << name;
        fclose(file);
    }

    static long file_size(const char* name)
    {
        struct stat status;
        return stat(name, &status) == 0 ? static_cast<long>(status.st_size) : -1;
    }

    static std::string read_file(const char* name)
    {
        std::string bytes;
        FILE* file = fopen(name, "rb");
        if (file == nullptr) return bytes;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
        fclose(file);
        return bytes;
    }

    // Names of the entries in the current directory, sorted, one per line.
    static std::string listing()
    {
        std::string names;
        struct dirent** entries = nullptr;
        int count = scandir(".", &entries, nullptr, alphasort);
        for (int i = 0; i < count; ++i) {
            std::string name = entries[i]->d_name;
            if (name != "." && name != "..") names += name + "\n";
            free(entries[i]);
        }
        free(entries);
        return names;
    }

private:
    static void remove_tree(const std::string& path)
    {
        DIR* directory = opendir(path.c_str());
        if (directory == nullptr) return;
        while (struct dirent* entry = readdir(directory)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string inner = path + "/" + name;
            struct stat status;
            if (lstat(inner.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
                remove_tree(inner);
            } else {
                unlink(inner.c_str());
            }
        }
        closedir(directory);
        rmdir(path.c_str());
    }

    char previous_[PATH_MAX];
    char path_[64];
};
