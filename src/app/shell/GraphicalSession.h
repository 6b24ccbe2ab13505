#pragma once

#include <functional>
#include <string>

// Whether the program can open its windows here, decided before the application object exists: without
// a display the windowing layer aborts the process with a core dump and advice to reinstall, which
// tells a user started from a text console or over ssh nothing.
class GraphicalSession {
public:
    using Environment = std::function<const char*(const char*)>;

    // Empty when windows can open (a display is named, or a windowing platform was chosen on the command
    // line or in QT_QPA_PLATFORM); otherwise the one line saying that a graphical session is needed and
    // which variable is missing.
    static std::string whatIsMissing(int argc, char** argv, const Environment& environment);
    static std::string whatIsMissing(int argc, char** argv);

    // While the application object is made: a display that is named but cannot be reached ends the
    // process with one line and status 1 instead of an abort, `beforeExit` (when given) run first. Other
    // messages go where they went.
    static void guardStartup(const char* program, std::function<void()> beforeExit = {});
    static void endStartupGuard();
};
