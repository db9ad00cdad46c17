// A fresh directory under the system's temporary directory, removed with its contents when
// the object goes. `ChangeInto` makes it the working directory until then, for code that works
// with paths relative to the working directory (the game's directory).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>

class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        // No mkdtemp here: a name is drawn until one is new (create_directory fails on a
        // name that exists, so two programs never share one).
        std::random_device random;
        for (int attempt = 0; attempt < 100 && FPath.empty(); ++attempt) {
            const auto path =
                std::filesystem::temp_directory_path() / ("brisal-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(path, error)) {
                FPath = path;
            }
        }
        if (FPath.empty()) {
            throw std::runtime_error("cannot create a temporary directory");
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "brisal-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        FPath = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ignored;
        if (!FPrevious.empty()) {
            std::filesystem::current_path(FPrevious, ignored);
        }
        std::filesystem::remove_all(FPath, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const {
        return FPath;
    }
    void ChangeInto() {
        FPrevious = std::filesystem::current_path();
        std::filesystem::current_path(FPath);
    }
    std::string ReadFile(const std::filesystem::path& relative) const {
        std::ifstream in(FPath / relative, std::ios::binary);
        if (!in) {
            throw std::runtime_error("cannot read " + (FPath / relative).string());
        }
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void WriteFile(const std::filesystem::path& relative, const std::string& bytes) const {
        std::ofstream out(FPath / relative, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), std::streamsize(bytes.size()))) {
            throw std::runtime_error("cannot write " + (FPath / relative).string());
        }
    }

private:
    std::filesystem::path FPath;
    std::filesystem::path FPrevious;
};
