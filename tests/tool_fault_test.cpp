// utiltool under write failures: the K-th write, seek, sync or close fails,
// for every K, while a subcommand replaces a file. It may fail, but never at
// the cost of the old file, and never leaves a temporary behind.
#include "FaultSupport.h"
#include "TestSupport.h"

#include <Command.h>
#include <UtilIfile.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using UtilTest::sweep;

// Files in the directory of `path` whose names start with its own.
std::vector<std::string> besides(const std::string& path) {
    std::filesystem::path p(path);
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(p.parent_path()))
        if (e.path().filename().string().rfind(p.filename().string(), 0) == 0)
            out.push_back(e.path().filename().string());
    return out;
}

bool holdsSegment(const std::string& file, const std::string& name, const std::string& bytes) {
    UtilTest::CapturedReports quiet;
    UT_IFILE f;
    try {
        return f.load(file.c_str()) && UtilTest::segmentOf(f, name) == bytes && f.unload();
    } catch (const Port::FatalError&) {
        return false;
    }
}

TEST(ToolWrites, SegfilePutNeverCostsTheOldFile) {
    std::string dir = UtilTest::tempPath("tooldir");
    std::filesystem::create_directories(dir);
    std::string file = dir + "/design.seg";
    std::string input = dir + "/input";
    UtilTest::spit(input, std::string(9000, 'x'));
    ASSERT_EQ(UtilTool::main({"segfile", "new", file}), 0);
    ASSERT_EQ(UtilTool::main({"segfile", "put", file, "first", input}), 0);
    const std::string old = UtilTest::slurp(file);
    UtilTest::spit(input, std::string(7000, 'y'));
    for (bool sticky : {false, true}) {
        sweep(
            sticky,
            [&] {
                bool ok = UtilTool::main({"segfile", "put", file, "second", input}) == 0;
                // Whatever happened, nothing is left beside the file.
                EXPECT_EQ(besides(file), std::vector<std::string>{"design.seg"});
                return ok;
            },
            [&](bool ok, long k) {
                if (ok) {
                    EXPECT_TRUE(holdsSegment(file, "second", std::string(7000, 'y'))) << "K=" << k;
                    UtilTest::spit(file, old);  // the next K starts from the old file again
                    return;
                }
                // Only a failed sync of the directory comes after the rename.
                if (UtilTest::slurp(file) != old) {
                    EXPECT_TRUE(holdsSegment(file, "second", std::string(7000, 'y'))) << "K=" << k;
                    UtilTest::spit(file, old);
                }
            });
        UtilTest::spit(file, old);
    }
    std::filesystem::remove_all(dir);
}

TEST(ToolWrites, SegfilePutSyncsTheNewFileThenItsDirectory) {
    std::string dir = UtilTest::tempPath("syncdir");
    std::filesystem::create_directories(dir);
    std::string file = dir + "/design.seg";
    std::string input = dir + "/input";
    UtilTest::spit(input, "bytes");
    ASSERT_EQ(UtilTool::main({"segfile", "new", file}), 0);
    static std::vector<std::string> synced;
    synced.clear();
    const Port::IoCalls& d = Port::defaultIoCalls();
    Port::IoCalls previous =
        Port::setIoCalls(Port::IoCalls{d.read, d.write, d.lseek,
                                       [](int fd) {
                                           struct stat st;
                                           ::fstat(fd, &st);
                                           synced.push_back(S_ISDIR(st.st_mode) ? "directory" : "file");
                                           return Port::defaultIoCalls().fsync(fd);
                                       },
                                       d.close});
    const int status = UtilTool::main({"segfile", "put", file, "first", input});
    Port::setIoCalls(previous);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(synced, (std::vector<std::string>{"file", "directory"}));
    std::filesystem::remove_all(dir);
}

}  // namespace
