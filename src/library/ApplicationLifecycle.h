#pragma once

// What the coordinator asks of the program's shell to end a run. Called on the main queue.
class ApplicationLifecycle {
public:
    virtual ~ApplicationLifecycle() = default;
    // Ends every sheet and empties the dialog queue, so nothing waits for the user.
    virtual void clearAllDialog() = 0;
    // Ends the program; its termination handling force-ejects a device still connected and saves the pool.
    virtual void terminate() = 0;
};
