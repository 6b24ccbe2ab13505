#pragma once

// What the application shell asks of the library coordinator (CommonUtils): only the forced eject,
// at termination and from the uncaught-exception hook.
class CommonUtilsServices {
public:
    virtual ~CommonUtilsServices() = default;

    // Drops the waiting device actions and tells the device to leave editor mode without waiting for
    // its answer. Safe on any thread; it never waits for the main thread.
    virtual void forceEjectDevice() = 0;
};
