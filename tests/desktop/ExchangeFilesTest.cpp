// The shared exchange records on real files, with a real second process (the
// desktop application's side of them end to end: tests/exchange).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "DesktopTestEnv.h"
#include "desktop/MemoryMappingFile.h"

using namespace quillane::test;

namespace {

using LutFile = MemoryMappingFile<LutMapping>;

class ExchangeFilesTest : public ::testing::Test {
protected:
    DesktopSandbox sandbox;
    const std::string lutPath = sandbox.exchange() + "$LutShared$";

    // Opens the LUT record and returns what went to standard error.
    std::string openLut(bool create, std::unique_ptr<LutFile>& out) {
        testing::internal::CaptureStderr();
        out = std::make_unique<LutFile>(kLutMappingName, kLutMappingSize, create, true);
        return testing::internal::GetCapturedStderr();
    }
};

}  // namespace

TEST_F(ExchangeFilesTest, OpeningStretchesAndZeroesAnExistingFile) {
    for (std::size_t junk : {std::size_t(kLutMappingSize) + 4096, std::size_t(100)}) {
        writeFile(lutPath, std::string(junk, '\xAB'));
        ::chmod(lutPath.c_str(), 0666);
        LutFile lut(kLutMappingName, kLutMappingSize, true, false);
        ASSERT_NE(lut.data, nullptr);
        EXPECT_EQ(lut.fd, -1);  // the mapping holds no descriptor
        EXPECT_EQ(lut.fileSize, 0u);
        const std::string bytes = readFile(lutPath);
        EXPECT_EQ(bytes.size(), std::size_t(kLutMappingSize));
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; })) << junk << " bytes";
        struct stat st {};
        ::stat(lutPath.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(ExchangeFilesTest, EmptyingNeverPullsTheFileFromUnderAnotherMapping) {
    // Another process reads its mapping of the record without pause while new
    // instances empty the file: the file must never be shorter than the record,
    // or the reader dies of SIGBUS.
    LutFile first(kLutMappingName, kLutMappingSize, true, true);
    ASSERT_NE(first.data, nullptr);
    first.data->blue[LutMapping::kPlaneSize - 1] = 7.0f;
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        LutFile mine(kLutMappingName, kLutMappingSize, false, true);
        if (!mine.data) ::_exit(2);
        const char go = 1;
        if (::write(ready[1], &go, 1) != 1) ::_exit(3);
        ::fcntl(done[0], F_SETFL, O_NONBLOCK);
        volatile float sink = 0.0f;
        char stop = 0;
        // Until the parent has finished (bounded, should it never say so).
        for (int round = 0; round < 5000000 && ::read(done[0], &stop, 1) != 1; ++round)
            for (int page = 0; page < kLutMappingSize / 4096; page += 16)
                sink = sink + reinterpret_cast<volatile const float*>(mine.data)[page * 1024];
        ::_exit(0);
    }
    char go = 0;
    ASSERT_EQ(::read(ready[0], &go, 1), 1);
    for (int i = 0; i < 200; ++i) LutFile again(kLutMappingName, kLutMappingSize, true, true);
    ASSERT_EQ(::write(done[1], &go, 1), 1);
    int status = -1;
    ::waitpid(reader, &status, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reader status " << status;
    // The first mapping sees the emptied record.
    EXPECT_EQ(first.data->blue[LutMapping::kPlaneSize - 1], 0.0f);
}

TEST_F(ExchangeFilesTest, FailuresReportThePathAndLeaveTheObjectUnmapped) {
    std::unique_ptr<LutFile> lut;
    const auto expectUnmapped = [&] {
        EXPECT_EQ(lut->data, nullptr);
        EXPECT_EQ(lut->fd, -1);
    };
    {
        ScopedEnv elsewhere("QUILLANE_EXCHANGE_DIR", sandbox.dir.file("missing"));
        EXPECT_EQ(openLut(true, lut),
                  "MemoryMappingFile fail! Could not open file:" + sandbox.dir.file("missing") + "/$LutShared$\n");
        expectUnmapped();
    }
    // Reading a record that is shorter than its type would fault on access.
    writeFile(lutPath, std::string(100, '\0'));
    EXPECT_EQ(openLut(false, lut), "MemoryMappingFile fail! Error mapping file to buffer:" + lutPath + "\n");
    expectUnmapped();

    // A FIFO planted under the name neither hangs the reader nor gets used.
    std::filesystem::remove(lutPath);
    ASSERT_EQ(::mkfifo(lutPath.c_str(), 0600), 0);
    EXPECT_EQ(openLut(false, lut), "MemoryMappingFile fail! Could not open file:" + lutPath + "\n");
    expectUnmapped();
    EXPECT_EQ(openLut(true, lut), "MemoryMappingFile fail! Could not open file:" + lutPath + "\n");
    std::filesystem::remove(lutPath);

    // A file that may not grow: the last byte cannot be written.
    EXPECT_EQ(inChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{4096, 4096};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  const std::string err = openLut(true, lut);
                  return err == "MemoryMappingFile fail! Error writing last byte of the file:" + lutPath + "\n" &&
                                 lut->data == nullptr && lut->fd == -1
                             ? 0
                             : 1;
              }),
              0);
}

TEST_F(ExchangeFilesTest, AnotherUsersFileOrALinkIsNeverTouched) {
    const std::string victim = sandbox.dir.file("victim");
    writeFile(victim, "precious");
    std::filesystem::create_symlink(victim, lutPath);
    std::unique_ptr<LutFile> lut;
    EXPECT_EQ(openLut(true, lut), "MemoryMappingFile fail! Could not open file:" + lutPath + "\n");
    EXPECT_EQ(lut->data, nullptr);
    EXPECT_EQ(readFile(victim), "precious");

    if (::geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
    std::filesystem::remove(lutPath);
    writeFile(lutPath, "theirs");
    ASSERT_EQ(::chown(lutPath.c_str(), 65534, 65534), 0);
    EXPECT_EQ(openLut(true, lut), "MemoryMappingFile fail! Could not open file:" + lutPath + "\n");
    EXPECT_EQ(lut->data, nullptr);
    EXPECT_EQ(readFile(lutPath), "theirs");
}

TEST_F(ExchangeFilesTest, CleanupTwiceAndMoving) {
    LutFile lut(kLutMappingName, kLutMappingSize, true, false);
    ASSERT_NE(lut.data, nullptr);
    lut.data->dimSize = 17;
    LutFile moved(std::move(lut));
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
