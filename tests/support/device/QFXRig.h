#pragma once

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "device/commands/CQFXMidi.h"
#include "support/device/DeviceUnit.h"
#include "support/device/QFXRecorder.h"
#include "support/device/TransportFixture.h"

// The simulated unit on the device side of a transport, and what it has heard from the host.
class UnitRig : public TransportFixture {
public:
    static constexpr std::int32_t kModelId = 0x00700001;  // family 0x0070, member 0x0001

    explicit UnitRig(SimulatedPatchMemory::Layout layout = {1, 2, 3, 256}) : unit(midi, layout) { loop.runUntilIdle(); }

    // A function code as functions() names it: "52", or with its file-system step "60 22".
    static std::string name(std::uint8_t function, int sub = -1)
    {
        char text[16];
        if (sub < 0) std::snprintf(text, sizeof text, "%02X", function);
        else std::snprintf(text, sizeof text, "%02X %02X", function, sub);
        return text;
    }
    static std::string fileStep(std::uint8_t sub) { return name(0x60, sub); }
    // Host messages the device received since the last forget(), as function codes ("52", "60 22", "id").
    std::vector<std::string> functions() const
    {
        std::vector<std::string> out;
        for (const auto& m : received())
            if (m.size() >= 6) out.push_back(m[1] == 0x7E ? "id" : m[4] == 0x60 ? fileStep(m[5]) : name(m[4]));
        return out;
    }
    std::size_t count(const std::string& function) const
    {
        const auto all = functions();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), function));
    }
    std::vector<Bytes> received() const
    {
        auto all = const_cast<sim::DeviceUnit&>(unit).device().requests();
        all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(m_forgotten, all.size())));
        return all;
    }
    void forget() { m_forgotten = unit.device().requests().size(); }
    void settle() { midi.waitUntilDelivered(); }
    // Waits until the device has received `times` messages of a function, then (unless told not to, to
    // act while an answer is still on its way) lets its answers land.
    bool waitForFunction(const std::string& function, std::size_t times = 1, bool letAnswersLand = true)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count(function) < times) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (letAnswersLand) settle();
        return true;
    }

    sim::DeviceUnit unit;

private:
    std::atomic<std::size_t> m_forgotten{0};
};

// The whole stack under test: the command layer over the real transport on the virtual MIDI backend,
// with the simulated device on the device side and a recorder as the command layer's delegate.
class QFXRig : public UnitRig {
public:
    explicit QFXRig(std::int32_t timeOfRetry = 2, SimulatedPatchMemory::Layout layout = {1, 2, 3, 256},
                    std::vector<AcceptedDeviceModel> models = {{kModelId}})
        : UnitRig(layout), qfx(CQFXMidi::create(transport, std::move(models), timeOfRetry))
    {
        qfx->setDelegate(&recorder);
        transport.scanDevicesAndConnect();
    }
    ~QFXRig()
    {
        // Reports may still come from the transport's threads; the layer lets go of the recorder only
        // once a report under way has finished.
        qfx->setDelegate(nullptr);
        midi.waitUntilDelivered();
    }

    // Connects and waits for the last description; true when every step reported 1.
    bool connect()
    {
        qfx->connection();
        const auto at = recorder.waitForPrefix("inforead ");
        recorder.waitFor(5);
        return at && recorder.events() == std::vector<std::string>{"enter 1", "qfxinfo 1", "patchinfo 1",
                                                                    "advanced 1", "inforead 1 -1"};
    }
    // Connects, then forgets what the handshake sent and reported.
    bool connectAndForget()
    {
        const bool connected = connect();
        forget();
        return connected;
    }
    void forget()
    {
        UnitRig::forget();
        recorder.clear();
    }
    // Waits for the callback after `before` events and answers its line.
    std::string next(std::size_t before)
    {
        recorder.waitFor(before + 1);
        const auto events = recorder.events();
        return events.size() > before ? events[before] : std::string("(none)");
    }
    // The identity request goes unanswered from now on.
    void silenceIdentity()
    {
        auto faults = unit.device().faults();
        faults.silentFor[sim::RequestKey::identity()] = 1000;
        unit.device().setFaults(faults);
    }
    void setFamilyLow(std::uint8_t value)
    {
        auto state = unit.device().state();
        state.identity.familyLow = value;
        unit.device().setState(state);
    }
    void refuseEditorMode(int times)
    {
        unit.failFunction(sim::RequestKey::maker(0x52), times);
        unit.failFunction(sim::RequestKey::maker(0x53), times);
    }
    void unplug() { unit.device().unplug(); }
    void plugIn() { unit.device().plugIn(); }

    SimulatedPatchMemory& patches = unit.patches();
    SimulatedFileSystem& fs = unit.files();
    QFXRecorder recorder;
    std::shared_ptr<CQFXMidi> qfx;
};
