#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/CMidiDevice.h"
#include "device/CQFXMidi.h"
#include "device/MIDIMessageUtil.h"
#include "QFXRecorder.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/device/SimulatedFileSystem.h"
#include "support/device/SimulatedPatchMemory.h"

// The whole stack under test: the command layer over the real transport on the virtual MIDI backend,
// with the simulated device on the device side and a recorder as the command layer's delegate.
class QFXRig {
public:
    static constexpr std::int32_t kModelId = 0x00700001;  // family 0x0070, member 0x0001

    explicit QFXRig(std::int32_t timeOfRetry = 2, SimulatedPatchMemory::Layout layout = {1, 2, 3, 256},
                    std::vector<AcceptedDeviceModel> models = {{kModelId}})
        : dispatch(loop), midi(dispatch), root(makeRoot()), transport(midi, dispatch, files, root), patches(layout)
    {
        patches.fillDefault();
        side = midi.addDevice("Simulated unit");
        side->setReceiver([this](const std::vector<std::uint8_t>& message) { receive(message); });
        loop.runUntilIdle();
        qfx = CQFXMidi::create(transport, std::move(models), timeOfRetry);
        qfx->setDelegate(&recorder);
        transport.scanDevicesAndConnect();
    }
    ~QFXRig()
    {
        midi.waitUntilDelivered();
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
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
    // Waits for the next callback after `before` events and answers its line.
    std::string next(std::size_t before)
    {
        recorder.waitFor(before + 1);
        const auto events = recorder.events();
        return events.size() > before ? events[before] : std::string("(none)");
    }
    void settle() { midi.waitUntilDelivered(); }

    // Host messages the device received, as function codes ("52", "60 22", ...).
    std::vector<std::string> functions() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> out;
        char text[16];
        for (const auto& m : m_received) {
            if (m.size() < 6) continue;
            if (m[1] == 0x7E) out.push_back("id");
            else if (m[4] == 0x60) std::snprintf(text, sizeof text, "60 %02X", m[5]), out.push_back(text);
            else std::snprintf(text, sizeof text, "%02X", m[4]), out.push_back(text);
        }
        return out;
    }
    std::size_t count(const std::string& function) const
    {
        const auto all = functions();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), function));
    }
    std::vector<Bytes> received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    void forget()
    {
        std::lock_guard lock(m_mutex);
        m_received.clear();
        recorder.clear();
    }
    // Functions the device ignores from now on (no reply at all).
    void silence(std::uint8_t function)
    {
        std::lock_guard lock(m_mutex);
        m_silent.push_back(function);
    }
    void setFamilyLow(std::uint8_t value) { m_familyLow = value; }

    platform::RunLoop loop;
    platform::Dispatch dispatch;
    platform::VirtualMidiSystem midi;
    platform::LocalFileManager files;
    std::string root;
    CMidiDevice transport;
    SimulatedPatchMemory patches;
    SimulatedFileSystem fs;
    std::shared_ptr<platform::VirtualMidiDevice> side;
    QFXRecorder recorder;
    std::shared_ptr<CQFXMidi> qfx;

private:
    static std::string makeRoot()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qfxrig-XXXXXX").string();
        return mkdtemp(pattern.data());
    }

    void send(Bytes message) { side->send(std::move(message)); }

    void receive(const Bytes& m)
    {
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(m);
            const std::uint8_t function = m.size() > 4 ? (m[1] == 0x7E ? 0xFF : m[4]) : 0;
            if (std::find(m_silent.begin(), m_silent.end(), function) != m_silent.end()) return;
        }
        if (m.size() >= 6 && m[1] == 0x7E && m[3] == 0x06 && m[4] == 0x01) {
            send(Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, m_familyLow, 0x00, 0x01, 0x00, '1', '.', '2', '0', 0xF7});
            return;
        }
        if (m.size() < 6 || m[1] != 0x7D) return;
        const std::uint8_t dev = m[3];
        const auto respond = [&](std::uint8_t code) { send(Bytes{0xF0, 0x7D, 0x00, dev, 0x00, code, 0xF7}); };
        const auto reply = [this](Bytes b) { send(std::move(b)); };
        switch (m[4]) {
        case 0x52:
        case 0x53: {
            std::uint8_t code = 0;
            {
                std::lock_guard lock(m_mutex);
                if (m_modeRefusals > 0) --m_modeRefusals, code = 1;
            }
            respond(code);
            break;
        }
        case 0x55: {
            Bytes out{0xF0, 0x7D, 0x00, dev, 0x54};
            append(out, Bytes{1, 0, 0, 0});
            append(out, Bytes{3, 0, 0, 0, 0, 0, 0, 0});
            append(out, Bytes(64, 2));
            out.push_back(4);
            out.push_back(0xF7);
            send(out);
            break;
        }
        case 0x48: {
            Bytes out{0xF0, 0x7D, 0x00, dev, 0x47};
            append(out, Bytes{1, 0, 0, 0});
            append(out, Bytes{3, 0, 0, 0, 0, 0, 0, 0});
            out.push_back(4);
            out.push_back(0xF7);
            send(out);
            break;
        }
        case 0x44: {
            const auto layout = patches.layout();
            Bytes out{0xF0, 0x7D, 0x00, dev, 0x43};
            for (const std::int32_t v : {layout.groups * layout.banks * layout.patchs, layout.maxPatchSize,
                                         layout.banks * layout.patchs, layout.patchs}) {
                out.push_back(static_cast<std::uint8_t>(v & 0x7F));
                out.push_back(static_cast<std::uint8_t>((v >> 7) & 0x7F));
            }
            out.insert(out.end(), 16, 0);
            out.push_back(0xF7);
            send(out);
            break;
        }
        case 0x60: fs.handle(m, dev, reply); break;
        default: patches.handle(m, dev, reply); break;
        }
    }

    static void append(Bytes& out, const Bytes& raw)
    {
        const Bytes encoded = MIDIMessageUtil::convert87Type2(raw.data(), static_cast<std::int64_t>(raw.size()));
        out.insert(out.end(), encoded.begin(), encoded.end());
    }

public:
    void refuseEditorMode(int times)
    {
        std::lock_guard lock(m_mutex);
        m_modeRefusals = times;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_received;
    std::vector<std::uint8_t> m_silent;
    std::uint8_t m_familyLow = 0x70;
    int m_modeRefusals = 0;
};
