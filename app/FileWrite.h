// The file writes of the window: the game output file, the flag file and "IRC.log".
//
// A failure raises a file error whose message names the file (its full path, so the user
// sees which directory was meant) and the system's reason, in the class library's wording:
//   Cannot create file "/games/velmor/data/talofile.txt". No such file or directory
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Creating or truncating a file failed.
class EFCreateError : public EFileError {
public:
    using EFileError::EFileError;
};

// Opening an existing file failed.
class EFOpenError : public EFileError {
public:
    using EFileError::EFileError;
};

// The file was open but writing or closing it failed (a full disk, an I/O error).
class EWriteError : public EFileError {
public:
    using EFileError::EFileError;
};

// Creates or truncates APath and writes ABytes as its whole content.
void WriteWholeFile(const std::string& APath, std::string_view ABytes);

// Writes one byte of value 0 at offset 0 of APath: an existing file is opened without
// truncation, so its length and later bytes stay; a missing one is created 1 byte long.
void WriteFlagByte(const std::string& APath);
