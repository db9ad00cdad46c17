// A reader of the component stream "IRC.log" is written in, written apart from the writer so
// the tests check the bytes field by field. It renders one object without children as one
// row per field, "name type:value" (list items indented), and throws on anything malformed,
// cut short or left over.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

inline std::vector<std::string> ReadStream(const std::string& ABytes) {
    size_t pos = 0;
    const auto take = [&](size_t ACount) {
        if (ABytes.size() - pos < ACount) {
            throw std::runtime_error("stream ends early");
        }
        pos += ACount;
        return ABytes.substr(pos - ACount, ACount);
    };
    const auto byte = [&] { return static_cast<uint8_t>(take(1)[0]); };
    const auto atNull = [&] { return ABytes.at(pos) == '\0'; };
    const auto integer = [&](int ASize) { // little-endian, sign-extended
        uint64_t v = 0;
        for (int i = 0; i < ASize; ++i) {
            v |= uint64_t{byte()} << (8 * i);
        }
        const uint64_t sign = uint64_t{1} << (8 * ASize - 1);
        return static_cast<int64_t>((v ^ sign) - sign);
    };
    std::vector<std::string> rows;
    std::function<void(std::string)> value = [&](std::string ARow) {
        const uint8_t type = byte();
        ARow += std::to_string(type) + ":";
        if (type == 1) { // a list of values up to a null byte
            rows.push_back(ARow);
            while (!atNull()) {
                value("  ");
            }
            byte();
        } else if (type >= 2 && type <= 4) { // integers of 1, 2 and 4 bytes
            rows.push_back(ARow + std::to_string(integer(1 << (type - 2))));
        } else if (type == 6 || type == 7) { // short string, identifier
            rows.push_back(ARow + take(byte()));
        } else if (type == 8 || type == 9) { // false, true
            rows.push_back(ARow);
        } else if (type == 12 || type == 20) { // long and UTF-8 strings: 4-byte length
            rows.push_back(ARow + take(static_cast<uint32_t>(integer(4))));
        } else {
            throw std::runtime_error("unknown value type " + std::to_string(type));
        }
    };
    if (take(4) != "TPF0") {
        throw std::runtime_error("no TPF0 signature");
    }
    const std::string className = take(byte());
    rows.push_back(className + " " + take(byte()));
    while (!atNull()) {
        value(take(byte()) + " ");
    }
    // The end of the properties, then the end of the (absent) contained objects.
    if (take(2) != std::string(2, '\0') || pos != ABytes.size()) {
        throw std::runtime_error("contained object or bytes after the object");
    }
    return rows;
}
