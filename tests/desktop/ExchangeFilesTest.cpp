// The shared exchange records on real files, with a real second process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "DesktopTestEnv.h"
#include "desktop/MemoryMappingFile.h"

using namespace quillane::test;

namespace {

class ExchangeFilesTest : public ::testing::Test {
protected:
    DesktopSandbox sandbox;
    std::string pathOf(const char* name) const { return sandbox.exchange() + name; }
};

template <typename T>
T wordAt(const std::string& bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

bool allZero(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

// Runs body in a forked child; its result is the child's exit status.
template <typename Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace

TEST_F(ExchangeFilesTest, RecordsLandAtTheirByteOffsets) {
    {
        MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, true);
        ASSERT_NE(lut.data, nullptr);
        lut.data->lutReady = 1;
        lut.data->dimSize = 33;
        lut.data->inputRange1 = 2.5f;
        std::strcpy(lut.data->name, "warm");
        lut.data->red[35936] = 0.125f;   // last node of a 33-node LUT
        lut.data->green[0] = 0.5f;
        lut.data->blue[LutMapping::kPlaneSize - 1] = 0.75f;

        MemoryMappingFile<ImageMapping> image(kImageMappingName, kImageMappingSize, true, true);
        ASSERT_NE(image.data, nullptr);
        std::strcpy(image.data->clipName, "clipName");
        image.data->bytesPerPixel = 16;
        image.data->width = 1920;
        image.data->height = 1080;
        image.data->pixels[0] = 0.25f;
        image.data->pixels[1920 * 1080 * 4 - 1] = 1.0f;
    }
    const std::string lut = readFile(pathOf("$LutShared$"));
    ASSERT_EQ(lut.size(), 3146008u);
    EXPECT_EQ(wordAt<std::uint32_t>(lut, 8), 1u);
    EXPECT_EQ(wordAt<std::uint32_t>(lut, 12), 33u);
    EXPECT_EQ(wordAt<float>(lut, 20), 2.5f);
    EXPECT_EQ(lut.substr(24, 5), std::string("warm\0", 5));
    EXPECT_EQ(wordAt<float>(lut, 280 + 35936 * 4), 0.125f);
    EXPECT_EQ(wordAt<float>(lut, 1048856), 0.5f);
    EXPECT_EQ(wordAt<float>(lut, 3146008 - 4), 0.75f);

    const std::string image = readFile(pathOf("$LutSharedImage$"));
    ASSERT_EQ(image.size(), 141558048u);
    EXPECT_EQ(image.substr(20, 256), "clipName" + std::string(248, '\0'));
    EXPECT_EQ(wordAt<std::uint32_t>(image, 276), 16u);
    EXPECT_EQ(wordAt<std::uint32_t>(image, 280), 1920u);
    EXPECT_EQ(wordAt<std::uint32_t>(image, 284), 1080u);
    EXPECT_EQ(wordAt<float>(image, 288), 0.25f);
    EXPECT_EQ(wordAt<float>(image, 288 + 33177600 - 4), 1.0f);
}

TEST_F(ExchangeFilesTest, OpeningStretchesAndZeroesAnExistingFile) {
    const std::string path = pathOf("$LutShared$");
    for (std::size_t junk : {std::size_t(kLutMappingSize) + 4096, std::size_t(100)}) {
        writeFile(path, std::string(junk, '\xAB'));
        ::chmod(path.c_str(), 0666);
        MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, false);
        ASSERT_NE(lut.data, nullptr);
        EXPECT_EQ(lut.fileSize, 0u);
        EXPECT_EQ(lut.data->dimSize, 0u);
        const std::string bytes = readFile(path);
        EXPECT_EQ(bytes.size(), std::size_t(kLutMappingSize));
        EXPECT_TRUE(allZero(bytes)) << "after a file of " << junk << " bytes";
        struct stat st {};
        ::stat(path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(ExchangeFilesTest, FailuresReportThePathAndLeaveTheObjectUnmapped) {
    // No such folder: the open fails.
    {
        ScopedEnv elsewhere("QUILLANE_EXCHANGE_DIR", sandbox.dir.file("missing"));
        testing::internal::CaptureStderr();
        MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, true);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "MemoryMappingFile fail! Could not open file:" + sandbox.dir.file("missing") + "/$LutShared$\n");
        EXPECT_EQ(lut.data, nullptr);
        EXPECT_EQ(lut.fd, -1);
    }
    // Reading a record that is shorter than its type.
    {
        writeFile(pathOf("$LutShared$"), std::string(100, '\0'));
        testing::internal::CaptureStderr();
        MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, false, true);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "MemoryMappingFile fail! Error mapping file to buffer:" + pathOf("$LutShared$") + "\n");
        EXPECT_EQ(lut.data, nullptr);
        EXPECT_EQ(lut.fd, -1);
    }
    // A file that may not grow: the last byte cannot be written.
    const int status = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        testing::internal::CaptureStderr();
        MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, true);
        const std::string err = testing::internal::GetCapturedStderr();
        return err == "MemoryMappingFile fail! Error writing last byte of the file:" + pathOf("$LutShared$") + "\n" &&
                       lut.data == nullptr && lut.fd == -1
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(ExchangeFilesTest, AnotherUsersFileOrALinkIsNeverTouched) {
    const std::string victim = sandbox.dir.file("victim");
    writeFile(victim, "precious");
    std::filesystem::create_symlink(victim, pathOf("$LutShared$"));
    testing::internal::CaptureStderr();
    MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MemoryMappingFile fail! Could not open file:" + pathOf("$LutShared$") + "\n");
    EXPECT_EQ(lut.data, nullptr);
    EXPECT_EQ(readFile(victim), "precious");

    if (::geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
    const std::string theirs = pathOf("$LutSharedImage$");
    writeFile(theirs, "theirs");
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    testing::internal::CaptureStderr();
    MemoryMappingFile<ImageMapping> image(kImageMappingName, kImageMappingSize, true, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MemoryMappingFile fail! Could not open file:" + theirs + "\n");
    EXPECT_EQ(image.data, nullptr);
    EXPECT_EQ(readFile(theirs), "theirs");
}

TEST_F(ExchangeFilesTest, CleanupTwiceAndMoving) {
    MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, false);
    ASSERT_NE(lut.data, nullptr);
    lut.data->dimSize = 17;
    MemoryMappingFile<LutMapping> moved(std::move(lut));
    EXPECT_EQ(lut.data, nullptr);
    EXPECT_EQ(lut.fd, -1);
    ASSERT_NE(moved.data, nullptr);
    EXPECT_EQ(moved.data->dimSize, 17u);
    testing::internal::CaptureStderr();
    moved.cleanup();
    moved.cleanup();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(moved.data, nullptr);
    EXPECT_EQ(moved.fd, -1);
}

TEST_F(ExchangeFilesTest, ASecondProcessSharesTheRecord) {
    MemoryMappingFile<LutMapping> lut(kLutMappingName, kLutMappingSize, true, true);
    ASSERT_NE(lut.data, nullptr);
    lut.data->currentPluginID = 7;
    lut.data->green[35936] = 0.25f;

    // The desktop application's side: maps the existing file without emptying it,
    // reads what the plug-in wrote and answers through the same record.
    const int status = inChild([] {
        MemoryMappingFile<LutMapping> other(kLutMappingName, kLutMappingSize, false, true, true);
        if (other.data == nullptr || other.data->currentPluginID != 7 || other.data->green[35936] != 0.25f) return 1;
        other.data->dimSize = 33;
        std::strcpy(other.data->name, "warm");
        other.data->lutReady = 1;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lut.data->lutReady, 1u);
    EXPECT_EQ(lut.data->dimSize, 33u);
    EXPECT_STREQ(lut.data->name, "warm");

    // A read-only view in another process sees the words as they are now.
    EXPECT_EQ(inChild([] {
                  MemoryMappingFile<LutMapping> view(kLutMappingName, kLutMappingSize, false, true);
                  return view.data != nullptr && view.data->dimSize == 33 ? 0 : 1;
              }),
              0);

    // A new instance's mapping empties the record for everyone.
    MemoryMappingFile<LutMapping> fresh(kLutMappingName, kLutMappingSize, true, true);
    EXPECT_EQ(lut.data->lutReady, 0u);
    EXPECT_EQ(lut.data->green[35936], 0.0f);
}
