// The game deletes and recreates data/comm.bin while the window writes its flag byte into it.
// The write must neither fail when the file vanishes under it nor ever cut the file short.
#include "FileWrite.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

TEST(FlagFile, TheGameDeletingTheFileMeanwhileNeverFailsTheWrite) {
    TempDir dir;
    const std::string path = (dir.Path() / "comm.bin").string();
    std::atomic<bool> stop{false};
    std::atomic<long> deleted{0};
    // The game: puts a 3-byte file in place and deletes it again, as fast as it can.
    std::thread game([&] {
        while (!stop) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
            if (fd >= 0) {
                (void)!::write(fd, "\x01\x02\x03", 3);
                ::close(fd);
            }
            if (::unlink(path.c_str()) == 0) {
                ++deleted;
            }
        }
    });
    std::string failure;
    // Bounded: a checked-then-opened write meets the deletion within a few hundred rounds.
    for (int round = 0; round < 20000 && failure.empty(); ++round) {
        try {
            WriteFlagByte(path);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    stop = true;
    game.join();
    EXPECT_EQ(failure, "");
    EXPECT_GT(deleted.load(), 0) << "the game never got to delete the file";
}
