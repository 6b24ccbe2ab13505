#pragma once

#include <chrono>

class CommonUtilsServices;

// On an uncaught exception, tries to take the device out of editor mode before the process ends. The
// eject runs on a thread of its own and is given a short, bounded time: a coordinator that is wedged
// (or is the thread that threw while holding its own lock) never keeps the process from ending.
class UncaughtExceptionHook {
public:
    static constexpr std::chrono::milliseconds kEjectTimeLimit{500};

    // Installs the hook; the handler found before it ends the process afterwards.
    static void install();
    // The coordinator to eject through, once there is one; nullptr again when it goes.
    static void setCommonUtils(CommonUtilsServices* commonUtils);

    // Runs the forced eject on its own thread and waits for it at most `limit`; true when the device's
    // message had been handed to the MIDI system in time.
    static bool forceEjectWithin(CommonUtilsServices& commonUtils, std::chrono::milliseconds limit);
};
