#pragma once

// The one logging entry point of every layer. It writes nothing unless the environment variable
// RIG_LOG is set (to anything but "0"), in which case lines go to standard error. Log text is never
// shown to the user and never changes behaviour.

#define RIG_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

void _Log(const char* level, const char* file, int line, const char* function, const char* format, ...)
    RIG_PRINTF_FORMAT(5, 6);
void _NSLog(const char* format, ...) RIG_PRINTF_FORMAT(1, 2);

// The usual call site: RIG_LOG("dropped a %zu-byte reply", size);
#define RIG_LOG(...) _Log("DEBUG ", __FILE__, __LINE__, __func__, __VA_ARGS__)

namespace common {
bool logEnabled();
}
