// A fresh directory under the system's temporary directory, removed with its contents when
// the object goes. `ChangeInto` makes it the working directory until destruction, for code
// that works with paths relative to the working directory (the game's directory).
#pragma once

#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    void ChangeInto();

    // Whole-file helpers for checking what code under test wrote.
    std::string ReadFile(const std::filesystem::path& relative) const;
    void WriteFile(const std::filesystem::path& relative, const std::string& bytes) const;

private:
    std::filesystem::path FPath;
    std::filesystem::path FPreviousWorkingDirectory;
};
