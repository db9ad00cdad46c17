#include "IdGlobal.h"

#include <cstdarg>
#include <cstdio>

namespace Id {

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

} // namespace Id

#include <atomic>
#include <stdexcept>
#include <thread>

namespace Id {

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

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
    }
    return value;
}

namespace {
// Initialised during static initialisation, which runs on main's thread.
std::atomic<std::thread::id> gMainThread{std::this_thread::get_id()};
} // namespace

void SetMainThread() {
    gMainThread.store(std::this_thread::get_id());
}

bool IsMainThread() {
    return gMainThread.load() == std::this_thread::get_id();
}

} // namespace Id
