#pragma once

#include <chrono>
#include <optional>
#include <string>

// What the application shell asks of the library coordinator (CommonUtils): the forced eject, at
// termination and, sent at once, from the uncaught-exception hook; and the keeping of a pool the end could
// not save.
class CommonUtilsServices {
public:
    virtual ~CommonUtilsServices() = default;

    // Drops the waiting device actions and tells the device to leave editor mode without waiting for
    // its answer. Safe on any thread; it never waits for the main thread.
    virtual void forceEjectDevice() = 0;
    // The same from a failing process: returns once the message has been handed to the MIDI system,
    // without the coordinator's own queue, which may be the one that failed.
    virtual void forceEjectDeviceNow() = 0;
    // The end a session asks for: the device actions already queued run, the device is ejected behind
    // them, and the program is ended (as the Quit command ends it) at the latest `limit` from now. One
    // that cannot leaves the end to the caller's own bound.
    virtual void closeAppWithin(std::chrono::milliseconds /*limit*/) {}
    // At the end, after a save that did not write the pool whole: keeps the session's working copy for the
    // next start; nothing when it was kept, else why it could not be.
    virtual std::optional<std::string> keepUnsavedPatchPool() { return std::string("nothing keeps it"); }
    // At the end, before its save: the coordinator's reports reach no window from now on.
    virtual void endReports() {}
};
