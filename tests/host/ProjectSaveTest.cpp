// Saving a project: whole or not at all, also when two processes save the
// same project at once or the disk cannot keep the new file, and a failed
// save says which file and why; a save keeps the file's permissions.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <set>

#include "ProcessTools.h"
#include "TempDir.h"
#include "host/Project.h"

namespace {
// While set, flushing a regular file fails as a failing disk makes it fail.
std::atomic<bool> failingFileFlushes{false};
}  // namespace

// The writer, linked into this test, calls this in place of the C library's.
extern "C" int fsync(int fd) {
    struct stat st {};
    if (failingFileFlushes && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace {

using namespace quillane::test;
using Project = std::vector<std::vector<host::StoredValue>>;

struct Ownership {
    unsigned mode;
    uid_t uid;
    gid_t gid;
    bool operator==(const Ownership& o) const { return mode == o.mode && uid == o.uid && gid == o.gid; }
};
Ownership ownershipOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {static_cast<unsigned>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

// Version i of writer w: a LUT-sized block of its own and a number that
// names the version.
Project version(int writer, int i) {
    std::vector<unsigned char> nodes(48 * 1024);
    for (std::size_t k = 0; k < nodes.size(); ++k) nodes[k] = static_cast<unsigned char>(k * (writer + 3) + i);
    return {{{8, FxValue::integer(writer * 1000 + i)}, {7, FxValue::data(std::move(nodes))}}};
}

std::set<std::string> entriesOf(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

TEST(ProjectSave, TwoProcessesSavingTheSameProjectBothSucceedAndTheFileIsAlwaysOneOfTheirVersions) {
    TempDir dir;
    const std::string path = dir.file("project.json");
    constexpr int kSaves = 100;
    ASSERT_TRUE(host::writeProjectFile(path, version(0, 0), nullptr));

    WatchingChild reader(200000, [&] {
        const std::string text = readFile(path);
        Project seen;
        bool known = host::projectFromText(text, path, &seen, nullptr) && seen.size() == 1 && !seen[0].empty() &&
                     seen[0][0].value.kind() == FxValue::Kind::Integer;
        if (known) {
            const std::int64_t number = seen[0][0].value.integerValue();
            known = text == host::projectText(version(static_cast<int>(number / 1000), static_cast<int>(number % 1000)));
        }
        return known;
    });

    std::vector<pid_t> writers;
    for (int w = 1; w <= 2; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int failed = 0;
            for (int i = 0; i < kSaves; ++i) {
                std::string error;
                if (!host::writeProjectFile(path, version(w, i), &error)) {
                    std::fprintf(stderr, "%s\n", error.c_str());
                    ++failed;
                }
            }
            ::_exit(failed == 0 ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) EXPECT_EQ(exitStatus(pid), 0) << "a save failed";
    EXPECT_TRUE(reader.finish()) << "the project was seen partial or foreign";

    const std::string last = readFile(path);
    EXPECT_TRUE(last == host::projectText(version(1, kSaves - 1)) || last == host::projectText(version(2, kSaves - 1)));
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>{"project.json"});
}

TEST(ProjectSave, AFailedSaveKeepsTheProjectAndNamesTheFileAndTheReason) {
    TempDir dir;
    const std::string path = dir.file("project.json");
    ASSERT_TRUE(host::writeProjectFile(path, version(0, 1), nullptr));
    const std::string before = readFile(path);
    std::filesystem::create_directory(dir.file("folder"));

    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {
        {dir.file("missing/project.json"), "No such file or directory"},
        {dir.file("folder"), "it is a folder"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(host::writeProjectFile(c.path, version(0, 2), &error));
        EXPECT_EQ(error.rfind("cannot save the project " + c.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.find(c.path + ":", error.find(c.path + ":") + 1), std::string::npos)
            << "the file named twice: " << error;
    }

    // A disk that fills up half way (a file-size limit stands in for it).
    EXPECT_EQ(inChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{4096, 4096};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  std::string error;
                  const bool saved = host::writeProjectFile(path, version(0, 3), &error);
                  return !saved && error.find("File too large") != std::string::npos ? 0 : 1;
              }),
              0);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(entriesOf(dir.path()), (std::set<std::string>{"folder", "project.json"}));

    // A disk that cannot keep the new file: the flush before the rename fails.
    failingFileFlushes = true;
    std::string error;
    const bool saved = host::writeProjectFile(path, version(0, 4), &error);
    failingFileFlushes = false;
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(entriesOf(dir.path()), (std::set<std::string>{"folder", "project.json"}));
}

// A save changes the content only: the mode, owner and group stay. A file its
// owner, or the user saving, may not write is refused, as editors do.
TEST(ProjectSave, ASaveKeepsTheFilesPermissionsAndRefusesAReadOnlyFile) {
    TempDir dir;
    const std::string path = dir.file("project.json");
    struct Case {
        unsigned mode;
        uid_t uid;
        gid_t gid;
    } kept[] = {{0600, 0, 0}, {0640, 0, 0}, {0664, 65534, 65534}, {0604, 0, 65534}};
    for (const Case& c : kept) {
        ASSERT_TRUE(host::writeProjectFile(path, version(0, 1), nullptr));
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const bool mayGiveAway = ::chown(path.c_str(), c.uid, c.gid) == 0;
        const Ownership before = ownershipOf(path);
        std::string error;
        ASSERT_TRUE(host::writeProjectFile(path, version(0, 2), &error)) << error;
        EXPECT_EQ(readFile(path), host::projectText(version(0, 2)));
        EXPECT_TRUE(ownershipOf(path) == before) << std::oct << c.mode << " became " << ownershipOf(path).mode;
        if (!mayGiveAway) break;  // not root: the modes were seen, owners cannot be
    }
    // Read-only files, root or not.
    for (const unsigned mode : {0444u, 0066u}) {
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        std::string error;
        EXPECT_FALSE(host::writeProjectFile(path, version(0, 3), &error));
        EXPECT_EQ(error, "cannot save the project " + path + ": it is read-only");
        EXPECT_EQ(readFile(path), host::projectText(version(0, 2)));
        EXPECT_EQ(ownershipOf(path).mode, mode);
    }
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>{"project.json"});

    // Another user who may write the folder but not the file does not take
    // the file over; one who may write the file saves it. Only root can be
    // that other user here.
    if (::geteuid() != 0) GTEST_SKIP() << "not root: no other user to save as";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    const struct {
        unsigned mode;
        int status;
    } others[] = {{0644, 1}, {0666, 0}};
    for (const auto& o : others) {
        ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        ASSERT_TRUE(host::writeProjectFile(path, version(0, 2), nullptr));
        ASSERT_EQ(::chmod(path.c_str(), o.mode), 0);
        const int status = inChild([&] {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 3;
            std::string error;
            if (host::writeProjectFile(path, version(0, 5), &error)) return 0;
            return error == "cannot save the project " + path + ": it is read-only" ? 1 : 2;
        });
        EXPECT_EQ(status, o.status) << std::oct << o.mode;
        EXPECT_TRUE(readFile(path) == host::projectText(version(0, o.status == 0 ? 5 : 2))) << std::oct << o.mode;
        if (o.status != 0) {
            EXPECT_EQ(ownershipOf(path).uid, 0u) << std::oct << o.mode;
        }
    }
}

// A save clears the temporary files that killed saves left beside the project
// (a file nobody holds) and nothing a person named, and a save whose content
// is in place is a save even when the folder cannot be flushed afterwards.
TEST(ProjectSave, ASaveClearsAbandonedTemporariesAndSucceedsWhenOnlyTheFolderFlushFails) {
    TempDir dir;
    const std::string path = dir.file("project.json");
    ASSERT_TRUE(host::writeProjectFile(path, version(0, 1), nullptr));
    writeFile(dir.file(".project.json.quillane-tmp.AbC123"), "half a project");
    const std::set<std::string> others = {".other.json.quillane-tmp.AbC123", "project.json.saving.backup",
                                          "project.json.saving.AbC123", ".project.json.quillane-tmp.AbC1234"};
    for (const std::string& name : others) writeFile(dir.file(name), "not ours");
    ASSERT_TRUE(host::writeProjectFile(path, version(0, 2), nullptr));
    std::set<std::string> expected = others;
    expected.insert("project.json");
    EXPECT_EQ(entriesOf(dir.path()), expected);
    for (const std::string& name : others) std::filesystem::remove(dir.file(name));

    // A name as long as a name may be still has room for its temporary file.
    const std::string longest = dir.file(std::string(250, 'p') + ".json");
    ASSERT_TRUE(host::writeProjectFile(longest, version(0, 1), nullptr));
    ASSERT_TRUE(host::writeProjectFile(longest, version(0, 2), nullptr));
    EXPECT_EQ(readFile(longest), host::projectText(version(0, 2)));
    std::filesystem::remove(longest);
    EXPECT_EQ(entriesOf(dir.path()), std::set<std::string>{"project.json"});

    // A folder that may be written but not read cannot be opened to flush it
    // (root is not stopped by permissions: the child gives root up).
    const std::string folder = dir.file("blind");
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0333), 0);
    const std::string inside = folder + "/project.json";
    const int status = inChild([&] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
        return host::writeProjectFile(inside, version(0, 3), nullptr) ? 0 : 1;
    });
    ::chmod(folder.c_str(), 0700);
    if (status == 10) GTEST_SKIP() << "cannot give up root here";
    EXPECT_EQ(status, 0) << "a save whose content is in place was reported failed";
    EXPECT_EQ(readFile(inside), host::projectText(version(0, 3)));
}

}  // namespace
