#include "common/Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

namespace common {

bool logEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("RIG_LOG");
        return value != nullptr && *value != '\0' && std::string_view(value) != "0";
    }();
    return enabled;
}

}  // namespace common

namespace {
std::mutex g_logMutex;

void writeLine(const char* prefix, const char* format, va_list args)
{
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    std::lock_guard lock(g_logMutex);
    std::fprintf(stderr, "%s%s\n", prefix, text);
}
}  // namespace

void _Log(const char* level, const char* file, int line, const char* function, const char* format, ...)
{
    if (!common::logEnabled()) return;
    char prefix[512];
    std::snprintf(prefix, sizeof prefix, "%s%s:%d %s: ", level, file, line, function);
    va_list args;
    va_start(args, format);
    writeLine(prefix, format, args);
    va_end(args);
}

void _NSLog(const char* format, ...)
{
    if (!common::logEnabled()) return;
    va_list args;
    va_start(args, format);
    writeLine("", format, args);
    va_end(args);
}
