#include "app/shell/GraphicalSession.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

QtMessageHandler g_previous = nullptr;
const char* g_program = "";
std::function<void()>* g_beforeExit = nullptr;
// What the windowing layer says on its way to the fatal error is held back, so the user sees one line;
// when the start goes well it is passed on.
struct Held {
    QtMsgType type;
    // The context's strings are the logging call's own literals, alive for the program's life.
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString message;
};
std::vector<Held>* g_held = nullptr;

void pass(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (g_previous) g_previous(type, context, message);
    else std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool isSet(const GraphicalSession::Environment& environment, const char* name)
{
    const char* value = environment(name);
    return value != nullptr && *value != '\0';
}

void onStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (g_held != nullptr)
            g_held->push_back({type, context.file, context.line, context.function, context.category, message});
        return;
    }
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "%s: needs a graphical session, and the display %s cannot be opened\n", g_program,
                 display && *display ? display : wayland && *wayland ? wayland : "named");
    std::fflush(stderr);
    if (g_beforeExit != nullptr && *g_beforeExit) (*g_beforeExit)();
    std::_Exit(1);
}

}  // namespace

std::string GraphicalSession::whatIsMissing(int argc, char** argv, const Environment& environment)
{
    for (int i = 1; i < argc; ++i) {
        // The platform chosen by hand (-platform offscreen, say) is the user's call.
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0) return {};
    }
    if (isSet(environment, "QT_QPA_PLATFORM")) return {};
    if (isSet(environment, "DISPLAY") || isSet(environment, "WAYLAND_DISPLAY")) return {};
    return "needs a graphical session, and neither DISPLAY nor WAYLAND_DISPLAY is set";
}

std::string GraphicalSession::whatIsMissing(int argc, char** argv)
{
    return whatIsMissing(argc, argv, [](const char* name) -> const char* { return std::getenv(name); });
}

void GraphicalSession::guardStartup(const char* program, std::function<void()> beforeExit)
{
    g_program = program;
    g_beforeExit = new std::function<void()>(std::move(beforeExit));
    g_held = new std::vector<Held>;
    g_previous = qInstallMessageHandler(&onStartupMessage);
}

void GraphicalSession::endStartupGuard()
{
    qInstallMessageHandler(g_previous);
    delete g_beforeExit;
    g_beforeExit = nullptr;
    if (g_held == nullptr) return;
    for (const Held& held : *g_held)
        pass(held.type, QMessageLogContext(held.file, held.line, held.function, held.category), held.message);
    delete g_held;
    g_held = nullptr;
}
