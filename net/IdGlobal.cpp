#include "IdGlobal.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace Id {

namespace {

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        result.resize(static_cast<size_t>(needed));
        // vsnprintf writes the terminating zero into the string's own spare byte.
        std::vsnprintf(result.data(), result.size() + 1, format, args);
    }
    va_end(args);
    return result;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + (c - '0');
        // One past the largest magnitude is enough to reject; checking per digit keeps the
        // 64-bit accumulator from overflowing on long inputs.
        if (result > int64_t{INT32_MAX} + 1) {
            return false;
        }
    }
    if (negative) {
        result = -result;
    }
    if (result > INT32_MAX || result < INT32_MIN) {
        return false;
    }
    value = static_cast<int32_t>(result);
    return true;
}

std::string FetchToken(std::string& AText, const std::string& ADelim, bool ADelete,
                       bool ACaseSensitive) {
    // An empty delimiter is never found, so a loop over FetchToken always ends.
    size_t pos = std::string::npos;
    if (!ADelim.empty()) {
        pos = ACaseSensitive ? AText.find(ADelim) : UpperCase(AText).find(UpperCase(ADelim));
    }
    std::string result;
    if (pos == std::string::npos) {
        result = AText;
        if (ADelete) {
            AText.clear();
        }
    } else {
        result = AText.substr(0, pos);
        if (ADelete) {
            AText.erase(0, pos + ADelim.size());
        }
    }
    return result;
}

std::string Trim(std::string_view AText) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    size_t first = 0;
    size_t last = AText.size();
    while (first < last && blank(AText[first])) {
        ++first;
    }
    while (last > first && blank(AText[last - 1])) {
        --last;
    }
    return std::string(AText.substr(first, last - first));
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

} // namespace Id
