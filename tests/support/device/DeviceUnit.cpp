#include "support/device/DeviceUnit.h"

#include <algorithm>
#include <thread>

#include "device/formats/MIDIMessageUtil.h"

namespace sim {

namespace {

template <std::size_t N>
void appendStream(Bytes& out, const std::array<std::uint8_t, N>& raw)
{
    const Bytes encoded = MIDIMessageUtil::convert87Type2(raw.data(), N);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

void append14(Bytes& out, std::int32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
    out.push_back(static_cast<std::uint8_t>((value >> 7) & 0x7F));
}

bool handledByPatchMemory(std::uint8_t function)
{
    switch (function) {
    case 0x46: case 0x45: case 0x28: case 0x56: case 0x57: case 0x05: case 0x04: return true;
    default: return false;
    }
}

}  // namespace

DeviceUnit::DeviceUnit(platform::VirtualMidiSystem& system, SimulatedPatchMemory::Layout layout,
                       const std::string& name)
    : m_device(system, name), m_patches(layout)
{
    m_patches.fillDefault();
    m_descriptions.qfxRegionLevels.fill(2);
    m_descriptions.groupDisplayText = {'A', ' ', ' ', ' '};
    // An effect list of one category with one loaded effect: a category opening, the effect, its closing.
    Bytes list(26 * 3, 0);
    list[0] = list[1] = list[2] = '>';
    list[4] = 1;
    const std::string effect = "COMP";
    std::copy(effect.begin(), effect.end(), list.begin() + 26);
    list[26 + 13] = '1';
    list[26 + 18] = 1;
    list[26 + 19] = 0x10;
    list[26 + 22] = 1;
    list[52] = list[53] = list[54] = '<';
    list[56] = 1;
    m_files.setFile(kEffectList, list);
    install();
}

void DeviceUnit::setDescriptions(const Descriptions& descriptions)
{
    std::lock_guard lock(m_mutex);
    m_descriptions = descriptions;
}

void DeviceUnit::failFunction(const RequestKey& key, int times, std::int32_t code)
{
    if (key.manufacturer == RequestKey::kMaker && key.function == RequestKey::kFileSystem) {
        m_files.changeFaults([&](SimulatedFileSystem::Faults& f) {
            f.failCount[key.sub] = times;
            f.code = code;
        });
    } else if (key.manufacturer == RequestKey::kMaker && handledByPatchMemory(key.function)) {
        m_patches.changeFaults([&](SimulatedPatchMemory::Faults& f) {
            f.failCount[key.function] = times;
            f.code = static_cast<std::uint8_t>(code & 0x7F);
        });
    } else {
        std::lock_guard lock(m_mutex);
        m_codes[key] = {times, code};
    }
}

void DeviceUnit::shortenNextReply(const RequestKey& key, std::size_t length)
{
    std::lock_guard lock(m_mutex);
    m_shorten[key] = length;
}

void DeviceUnit::lengthenNextReply(const RequestKey& key, std::size_t extra)
{
    std::lock_guard lock(m_mutex);
    m_lengthen[key] = extra;
}

void DeviceUnit::faultAt(const RequestKey& key, int nth, Fault fault)
{
    const std::size_t count = m_device.requestCount(key) + static_cast<std::size_t>(std::max(nth, 1));
    std::lock_guard lock(m_mutex);
    m_target = Target{key, count, fault};
}

void DeviceUnit::lateReplyAt(const RequestKey& key, int nth, int handedInAt)
{
    const std::size_t now = m_device.requestCount(key);
    std::lock_guard lock(m_mutex);
    m_late = Late{key, now + static_cast<std::size_t>(std::max(nth, 1)),
                  now + static_cast<std::size_t>(std::max(handedInAt, nth + 1)), key, false, false, false, std::nullopt};
}

void DeviceUnit::handInLateReplyAfter(const RequestKey& afterKey, int afterAt, bool after)
{
    const std::size_t now = m_device.requestCount(afterKey);
    std::lock_guard lock(m_mutex);
    if (!m_late) return;
    m_late->handKey = afterKey;
    m_late->handedInAt = now + static_cast<std::size_t>(std::max(afterAt, 1));
    m_late->afterReply = after;
}

void DeviceUnit::clearFaults()
{
    {
        std::lock_guard lock(m_mutex);
        m_target.reset();
        m_late.reset();
        m_silentForGood = false;
        m_codes.clear();
        m_shorten.clear();
        m_lengthen.clear();
        m_halve.clear();
    }
    m_files.changeFaults([](SimulatedFileSystem::Faults& f) { f.failCount.clear(); });
    m_patches.changeFaults([](SimulatedPatchMemory::Faults& f) { f.failCount.clear(); });
}

bool DeviceUnit::admit(const RequestKey& key, std::size_t countOfKey)
{
    Fault fault{};
    {
        std::lock_guard lock(m_mutex);
        if (m_silentForGood) return false;
        if (m_late && m_late->key == key && m_late->heldAt == countOfKey) m_late->holding = true;
        if (m_late && m_late->handKey == key && m_late->handedInAt == countOfKey && (m_late->reply || m_late->holding))
            m_late->handingIn = true;
        if (!m_target || m_target->key != key || m_target->count != countOfKey) return true;
        fault = m_target->fault;
        m_target.reset();
        switch (fault) {
        case Fault::SilentForGood: m_silentForGood = true; return false;
        case Fault::SilentOnce: return false;
        case Fault::Cut: m_halve.insert(key); return true;
        case Fault::Grown: m_lengthen[key] = 16; return true;
        case Fault::Unplug:
        case Fault::ErrorCode: break;
        }
    }
    if (fault == Fault::Unplug) {
        m_device.unplug();
        return false;
    }
    failFunction(key, 1000);
    return true;
}

DeviceUnit::~DeviceUnit()
{
    releaseReplies();
    m_device.stop();
}

void DeviceUnit::delayReplies(const RequestKey& key, std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mutex);
    m_delays[key] = delay;
}

void DeviceUnit::holdReplies(const RequestKey& key, std::size_t answered)
{
    std::lock_guard lock(m_mutex);
    m_held[key] = answered;
}

void DeviceUnit::releaseReplies()
{
    {
        std::lock_guard lock(m_mutex);
        m_held.clear();
    }
    m_released.notify_all();
}

void DeviceUnit::setPacing(double bytesPerSecond, std::chrono::microseconds latencyPerReply)
{
    m_device.setPacing({bytesPerSecond, latencyPerReply});
}

void DeviceUnit::sendPatchNotice(std::int32_t group, std::int32_t bank, std::int32_t patch)
{
    if (auto message = m_patches.patchMessage(deviceID(), group, bank, patch))
        send(RequestKey::maker(0x45), std::move(*message));
}

std::int32_t DeviceUnit::takeCode(const RequestKey& key)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_codes.find(key);
    if (it == m_codes.end() || it->second.first <= 0) return 0;
    --it->second.first;
    return it->second.second;
}

void DeviceUnit::send(const RequestKey& key, Bytes message)
{
    std::chrono::milliseconds delay{0};
    std::optional<Bytes> stale;
    bool staleAfter = false;
    {
        std::unique_lock lock(m_mutex);
        if (m_late && m_late->key == key && m_late->holding) {
            m_late->holding = false;
            m_late->reply = std::move(message);
            return;
        }
        if (m_late && m_late->handKey == key && m_late->handingIn && m_late->reply) {
            stale = std::move(m_late->reply);
            staleAfter = m_late->afterReply;
            m_late.reset();
        }
        m_released.wait(lock, [&] {
            const auto held = m_held.find(key);
            return held == m_held.end() || held->second > 0;
        });
        if (const auto held = m_held.find(key); held != m_held.end()) --held->second;
        if (const auto it = m_delays.find(key); it != m_delays.end()) delay = it->second;
        if (const auto it = m_shorten.find(key); it != m_shorten.end()) {
            if (it->second + 1 < message.size()) {
                message.resize(it->second);
                message.push_back(0xF7);
            }
            m_shorten.erase(it);
        }
        if (m_halve.erase(key) > 0) {
            message.resize(message.size() / 2);
            message.push_back(0xF7);
        }
        if (const auto it = m_lengthen.find(key); it != m_lengthen.end()) {
            message.insert(message.end() - 1, it->second, 0x00);
            m_lengthen.erase(it);
        }
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    if (stale && !staleAfter) m_device.reply(*stale);
    m_device.reply(message);
    if (stale && staleAfter) m_device.reply(*stale);
}

void DeviceUnit::install()
{
    m_device.setGate([this](const RequestKey& key, std::size_t countOfKey) { return admit(key, countOfKey); });
    const auto respondence = [this](RequestKey key) {
        return [this, key](SimulatedDevice& device, const Bytes&) {
            const auto code = static_cast<std::uint8_t>(takeCode(key) & 0x7F);
            send(key, device.makerMessage(0x00, {code}));
        };
    };
    m_device.setHandler(RequestKey::maker(0x52), respondence(RequestKey::maker(0x52)));
    m_device.setHandler(RequestKey::maker(0x53), respondence(RequestKey::maker(0x53)));

    m_device.setHandler(RequestKey::maker(0x55), [this](SimulatedDevice& device, const Bytes&) {
        Bytes body;
        {
            std::lock_guard lock(m_mutex);
            appendStream(body, m_descriptions.qfxGeneration);
            appendStream(body, m_descriptions.qfxRegions);
            appendStream(body, m_descriptions.qfxRegionLevels);
            body.push_back(m_descriptions.qfxUnits & 0x7F);
        }
        send(RequestKey::maker(0x55), device.makerMessage(0x54, body));
    });
    m_device.setHandler(RequestKey::maker(0x48), [this](SimulatedDevice& device, const Bytes&) {
        Bytes body;
        {
            std::lock_guard lock(m_mutex);
            appendStream(body, m_descriptions.patchGeneration);
            appendStream(body, m_descriptions.patchRegions);
            body.push_back(m_descriptions.patchUnits & 0x7F);
        }
        send(RequestKey::maker(0x48), device.makerMessage(0x47, body));
    });
    m_device.setHandler(RequestKey::maker(0x44), [this](SimulatedDevice& device, const Bytes&) {
        const auto layout = m_patches.layout();
        Bytes body;
        append14(body, layout.groups * layout.banks * layout.patchs);
        append14(body, layout.maxPatchSize);
        append14(body, layout.banks * layout.patchs);
        append14(body, layout.patchs);
        {
            std::lock_guard lock(m_mutex);
            for (const auto byte : m_descriptions.display) body.push_back(byte & 0x7F);
            for (const auto byte : m_descriptions.groupDisplayText) body.push_back(byte & 0x7F);
        }
        send(RequestKey::maker(0x44), device.makerMessage(0x43, body));
    });

    for (const std::uint8_t function : {0x46, 0x45, 0x28, 0x56, 0x57, 0x05, 0x04}) {
        const RequestKey key = RequestKey::maker(function);
        m_device.setHandler(key, [this, key](SimulatedDevice&, const Bytes& request) {
            m_patches.handle(request, deviceID(), [this, key](Bytes reply) { send(key, std::move(reply)); });
        });
    }
    for (const std::uint8_t sub : {0x05, 0x09, 0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x27, 0x28, 0x29}) {
        const RequestKey key = RequestKey::fileSystem(sub);
        m_device.setHandler(key, [this, key](SimulatedDevice&, const Bytes& request) {
            m_files.handle(request, deviceID(), [this, key](Bytes reply) { send(key, std::move(reply)); });
        });
    }
}

}  // namespace sim
