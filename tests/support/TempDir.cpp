#include "TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brisal-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    FPath = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!FPreviousWorkingDirectory.empty()) {
        std::filesystem::current_path(FPreviousWorkingDirectory, ignored);
    }
    std::filesystem::remove_all(FPath, ignored);
}

void TempDir::ChangeInto() {
    if (FPreviousWorkingDirectory.empty()) {
        FPreviousWorkingDirectory = std::filesystem::current_path();
    }
    std::filesystem::current_path(FPath);
}

std::string TempDir::ReadFile(const std::filesystem::path& relative) const {
    std::ifstream in(FPath / relative, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + (FPath / relative).string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void TempDir::WriteFile(const std::filesystem::path& relative, const std::string& bytes) const {
    std::filesystem::create_directories((FPath / relative).parent_path());
    std::ofstream out(FPath / relative, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + (FPath / relative).string());
    }
}
