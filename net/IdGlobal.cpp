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
