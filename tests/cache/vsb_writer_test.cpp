// The writer's failure paths: an existing cache is replaced whole or left
// byte-identical, and no temporary file survives a reported failure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cache/vsb_format.h"
#include "vsb_test_util.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A scene whose file is a few hundred kilobytes.
Scene large_scene() {
    Scene s = make_full_scene();
    s.atlas_data.assign(400000, 0x5A);
    return s;
}

// Limits the size of any file this process writes, like a nearly full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lim = old_;
        lim.rlim_cur = bytes;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

private:
    rlimit old_{};
};

// A missing directory, a target that is a directory (not replaced, and no
// temporary left beside it) and no path at all.
TEST(VsbWriter, UnwritablePathsAreReportedAndChangeNothing) {
    ScratchDir dir;
    const std::string taken = dir.file("taken"), missing = dir.file("no/such/dir.vsb");
    ASSERT_EQ(mkdir(taken.c_str(), 0755), 0);
    for (const char* path : {missing.c_str(), taken.c_str(), static_cast<const char*>(nullptr)}) {
        CaptureStdout();
        CaptureStderr();
        EXPECT_FALSE(save_vsb(path, make_full_scene()));
        EXPECT_EQ(GetCapturedStderr(), std::string("Cannot write .vsb file: ") + (path ? path : "(null)") + "\n");
        EXPECT_EQ(GetCapturedStdout(), "");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken"});
    struct stat st {};
    ASSERT_EQ(stat(taken.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(VsbWriter, ReplacesAnExistingFileWhole) {
    ScratchDir dir;
    const std::string path = dir.file("scene.vsb");
    write_bytes(path, std::vector<uint8_t>(1000000, 0xEE));  // longer than the new file
    const std::vector<uint8_t> f = saved(dir, make_full_scene(), "scene.vsb");
    EXPECT_LT(f.size(), 1000000u);
    EXPECT_EQ(f[0], 'V');
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"scene.vsb"});
}

TEST(VsbWriter, DiskFullLeavesThePreviousFileByteIdentical) {
    ScratchDir dir;
    const std::string path = dir.file("scene.vsb");
    const std::vector<uint8_t> before = saved(dir, make_full_scene(), "scene.vsb");

    // Writes beyond 64 KiB fail with EFBIG, as they would on a full disk.
    const sighandler_t old = signal(SIGXFSZ, SIG_IGN);
    bool ok = true;
    std::string err, out;
    {
        FileSizeLimit limit(64 * 1024);
        CaptureStdout();
        CaptureStderr();
        ok = save_vsb(path.c_str(), large_scene());
        err = GetCapturedStderr();
        out = GetCapturedStdout();
    }
    signal(SIGXFSZ, old);
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, "Failed to write .vsb file (disk full?): " + path + "\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(read_bytes(path), before);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"scene.vsb"});
}

TEST(VsbWriter, ProcessDyingMidWriteLeavesThePreviousFile) {
    ScratchDir dir;
    const std::string path = dir.file("scene.vsb");
    const std::vector<uint8_t> before = saved(dir, make_full_scene(), "scene.vsb");

    // The child is killed by SIGXFSZ in the middle of writing the new file.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_DFL);
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &lim);
        save_vsb(path.c_str(), large_scene());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child finished writing";
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    EXPECT_EQ(read_bytes(path), before);
    // The dead process leaves its temporary beside the target, never in it.
    for (const std::string& name : dir.entries())
        if (name != "scene.vsb") {
            EXPECT_EQ(name.rfind("scene.vsb.tmp-", 0), 0u) << name;
        }
}

}  // namespace
