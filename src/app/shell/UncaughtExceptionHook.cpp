#include "app/shell/UncaughtExceptionHook.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "app/shell/CommonUtilsServices.h"

namespace {

std::atomic<CommonUtilsServices*> hookTarget{nullptr};
std::atomic<std::terminate_handler> previousHandler{nullptr};
std::atomic_flag handling = ATOMIC_FLAG_INIT;

[[noreturn]] void endProcess()
{
    if (const std::terminate_handler previous = previousHandler.load()) previous();
    std::abort();
}

[[noreturn]] void onTerminate()
{
    // A second failure inside the eject goes straight on to the end.
    if (!handling.test_and_set()) {
        if (CommonUtilsServices* target = hookTarget.load()) {
            UncaughtExceptionHook::forceEjectWithin(*target, UncaughtExceptionHook::kEjectTimeLimit);
        }
    }
    endProcess();
}

struct EjectState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

}  // namespace

void UncaughtExceptionHook::install()
{
    const std::terminate_handler previous = std::set_terminate(onTerminate);
    if (previous != onTerminate) previousHandler.store(previous);
}

void UncaughtExceptionHook::setCommonUtils(CommonUtilsServices* commonUtils) { hookTarget.store(commonUtils); }

bool UncaughtExceptionHook::forceEjectWithin(CommonUtilsServices& commonUtils, std::chrono::milliseconds limit)
{
    auto state = std::make_shared<EjectState>();
    try {
        std::thread([state, &commonUtils] {
            try {
                commonUtils.forceEjectDeviceNow();
            } catch (...) {
                // The process is ending anyway; a failed eject changes nothing.
            }
            const std::lock_guard lock(state->mutex);
            state->done = true;
            state->finished.notify_all();
        }).detach();
    } catch (...) {
        return false;  // no thread to spare: leave the device as it is
    }
    std::unique_lock lock(state->mutex);
    return state->finished.wait_for(lock, limit, [&] { return state->done; });
}
