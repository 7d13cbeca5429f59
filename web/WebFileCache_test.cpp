// The cache must never serve a file that changed since it was read, and must keep one that did not.
#include "web/WebFileCache.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace {

class WebFileCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = platform::ProfileFolder() + "/webfiles";
        ASSERT_TRUE(platform::EnsureFolder(dir_));
        native_ = dir_ + "/index.htm";
        path_ = platform::FromUtf8(native_);
    }

    void Write(const std::string& native, const std::string& text) {
        std::ofstream(native, std::ios::binary | std::ios::trunc) << text;
    }
    // Sets the write time to `secondsAgo` before now (whole seconds, so two files can share it exactly).
    void Age(const std::string& native, time_t secondsAgo) {
        const timespec times[2] = {{time(nullptr) - secondsAgo, 0}, {time(nullptr) - secondsAgo, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, native.c_str(), times, 0), 0);
    }
    std::string Get(WebFileCache& cache, const std::wstring& path) {
        std::shared_ptr<const std::string> contents;
        EXPECT_EQ(cache.Get(path, &contents), WebFileCache::Result::ok);
        return contents ? *contents : std::string("(null)");
    }

    std::string dir_;
    std::string native_;
    std::wstring path_;
};

TEST_F(WebFileCacheTest, KeepsAnUnchangedFileAndReadsAChangedOneAgain) {
    WebFileCache cache;
    Write(native_, "version 1");
    Age(native_, 3600);
    EXPECT_EQ(Get(cache, path_), "version 1");

    // Rewritten with the same size and the old write time put back: only a kept copy still says 1.
    Write(native_, "version 2");
    Age(native_, 3600);
    EXPECT_EQ(Get(cache, path_), "version 1");

    // Another write time.
    Age(native_, 1800);
    EXPECT_EQ(Get(cache, path_), "version 2");

    // Another size, same write time.
    Write(native_, "version three");
    Age(native_, 1800);
    EXPECT_EQ(Get(cache, path_), "version three");

    // Replaced by another file (a new inode) with the same size and write time.
    const std::string other = dir_ + "/other.htm";
    Write(other, "version FOUR!");
    Age(other, 1800);
    ASSERT_EQ(std::rename(other.c_str(), native_.c_str()), 0);
    EXPECT_EQ(Get(cache, path_), "version FOUR!");
}

TEST_F(WebFileCacheTest, AFileWrittenJustNowIsNotKept) {
    WebFileCache cache;
    Write(native_, "first");
    EXPECT_EQ(Get(cache, path_), "first");
    // A second write in the same clock tick with the same size cannot be told apart by its write time;
    // the first one was not kept, so the second is read.
    struct stat before {};
    ASSERT_EQ(stat(native_.c_str(), &before), 0);
    Write(native_, "other");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, native_.c_str(), times, 0), 0);
    EXPECT_EQ(Get(cache, path_), "other");
}

TEST_F(WebFileCacheTest, MissingFilesAndFoldersAreNotThere) {
    WebFileCache cache;
    std::shared_ptr<const std::string> contents;
    EXPECT_EQ(cache.Get(platform::FromUtf8(dir_ + "/nothing.htm"), &contents), WebFileCache::Result::missing);
    EXPECT_EQ(cache.Get(platform::FromUtf8(dir_), &contents), WebFileCache::Result::missing);
    EXPECT_EQ(contents, nullptr);

    // A kept file that disappears is not served from memory.
    Write(native_, "kept");
    Age(native_, 3600);
    EXPECT_EQ(Get(cache, path_), "kept");
    ASSERT_EQ(unlink(native_.c_str()), 0);
    EXPECT_EQ(cache.Get(path_, &contents), WebFileCache::Result::missing);
}

TEST_F(WebFileCacheTest, AnUnreadableFileIsNotThere) {
    WebFileCache cache;
    Write(native_, "secret");
    platform::SetAccessHook([&](const std::string& native) { return native != native_; });
    std::shared_ptr<const std::string> contents;
    EXPECT_EQ(cache.Get(path_, &contents), WebFileCache::Result::missing);
    platform::SetAccessHook(nullptr);
}

TEST_F(WebFileCacheTest, ManyFilesStayWithinTheBound) {
    WebFileCache cache;
    for (size_t i = 0; i < WebFileCache::kMaxFiles * 2; ++i) {
        const std::string native = dir_ + "/f" + std::to_string(i) + ".css";
        Write(native, "file " + std::to_string(i));
        Age(native, 3600);
        EXPECT_EQ(Get(cache, platform::FromUtf8(native)), "file " + std::to_string(i));
    }
    // Every one still reads right, kept or not.
    for (size_t i = 0; i < WebFileCache::kMaxFiles * 2; ++i) {
        EXPECT_EQ(Get(cache, platform::FromUtf8(dir_ + "/f" + std::to_string(i) + ".css")), "file " + std::to_string(i));
    }
}

}  // namespace
