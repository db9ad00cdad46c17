#include "FileWrite.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FullPath(const std::string& APath) {
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(APath, ignored);
    return full.empty() ? APath : full.string();
}

template <class E> [[noreturn]] void Fail(const char* AWhat, const std::string& APath, int AErrno) {
    throw E(std::string(AWhat) + " \"" + FullPath(APath) + "\". " + std::strerror(AErrno));
}

// Owns one descriptor, so every failure path closes it.
class TFd {
public:
    explicit TFd(int AFd) : FFd(AFd) {}
    ~TFd() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    // Closing reports late write errors (some file systems only fail here).
    int Close() {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd);
    }

private:
    int FFd;
};

int OpenRetrying(const char* APath, int AFlags) {
    int fd;
    do {
        fd = ::open(APath, AFlags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void WriteAllAt(TFd& AFd, const std::string& APath, std::string_view ABytes, off_t AOffset) {
    size_t done = 0;
    while (done < ABytes.size()) {
        const ssize_t n = ::pwrite(AFd.Get(), ABytes.data() + done, ABytes.size() - done,
                                   AOffset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail<EWriteError>("Cannot write file", APath, errno);
        }
        done += static_cast<size_t>(n);
    }
    if (AFd.Close() != 0) {
        Fail<EWriteError>("Cannot write file", APath, errno);
    }
}

} // namespace

void WriteWholeFile(const std::string& APath, std::string_view ABytes) {
    TFd fd(OpenRetrying(APath.c_str(), O_WRONLY | O_CREAT | O_TRUNC));
    if (fd.Get() < 0) {
        Fail<EFCreateError>("Cannot create file", APath, errno);
    }
    WriteAllAt(fd, APath, ABytes, 0);
}

void WriteFlagByte(const std::string& APath) {
    // One open that creates the file when absent: the game may delete the file at any moment,
    // and asking first whether it exists would leave a gap for that. Never O_TRUNC: the
    // game may keep more bytes in the file, and they stay.
    TFd fd(OpenRetrying(APath.c_str(), O_RDWR | O_CREAT));
    if (fd.Get() < 0) {
        const int error = errno;
        struct stat st;
        // Only the wording depends on this: a file that is there could not be opened.
        if (::stat(APath.c_str(), &st) == 0) {
            Fail<EFOpenError>("Cannot open file", APath, error);
        }
        Fail<EFCreateError>("Cannot create file", APath, error);
    }
    WriteAllAt(fd, APath, std::string_view("\0", 1), 0);
}
