// The Windows build starts no program (see ChildProcess::Unavailable): tests check that
// reason first, so this constructor is reached only by a test that forgot to.
#include "ChildProcess.h"

#include <stdexcept>

ChildProcess::ChildProcess(std::vector<std::string> AArgv, const std::filesystem::path& ALogFile,
                           bool)
    : FLogFile(ALogFile) {
    throw std::runtime_error("cannot start " + AArgv.at(0) + ": " + Unavailable);
}

bool ChildProcess::Running() {
    return false;
}

void ChildProcess::Signal(int) {}

void ChildProcess::Stop() {}

std::string ChildProcess::Log() const {
    return {};
}
