#include "support/device/DeviceUnit.h"

#include <algorithm>
#include <thread>

#include "device/formats/MIDIMessageUtil.h"
#include "support/device/EffectListMaker.h"

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

constexpr std::uint8_t kPatchFunctions[] = {0x46, 0x45, 0x28, 0x56, 0x57, 0x05, 0x04};

// Cuts a whole message to `length` bytes, its F7 kept; one already that short is left alone.
void cut(Bytes& message, std::size_t length)
{
    if (length + 1 >= message.size()) return;
    message.resize(length);
    message.push_back(0xF7);
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
    Bytes list = effectlist::marker('>', 1);
    for (const Bytes& record : {effectlist::effectOfType("COMP", "1", false, true, 0x01000010), effectlist::marker('<', 1)})
        list.insert(list.end(), record.begin(), record.end());
    m_files.setFile(kEffectList, list);
    install();
}

DeviceUnit::~DeviceUnit()
{
    releaseReplies();
    m_device.stop();
}

void DeviceUnit::failFunction(const RequestKey& key, int times, std::int32_t code)
{
    const bool maker = key.manufacturer == RequestKey::kMaker;
    if (maker && key.function == RequestKey::kFileSystem) {
        m_files.changeFaults([&](SimulatedFileSystem::Faults& f) {
            f.failCount[key.sub] = times;
            f.code = code;
        });
    } else if (maker && std::ranges::find(kPatchFunctions, key.function) != std::end(kPatchFunctions)) {
        m_patches.changeFaults([&](SimulatedPatchMemory::Faults& f) {
            f.failCount[key.function] = times;
            f.code = static_cast<std::uint8_t>(code & 0x7F);
        });
    } else {
        locked([&] { m_codes[key] = {times, code}; });
    }
}

void DeviceUnit::shortenNextReply(const RequestKey& key, std::size_t length)
{
    locked([&] { m_reshape[key] = [length](Bytes& m) { cut(m, length); }; });
}

void DeviceUnit::faultAt(const RequestKey& key, int nth, Fault fault)
{
    const std::size_t count = m_device.requestCount(key) + static_cast<std::size_t>(std::max(nth, 1));
    locked([&] { m_target = Target{key, count, fault}; });
}

void DeviceUnit::lateReplyAt(const RequestKey& key, int nth, int handedInAt)
{
    const std::size_t now = m_device.requestCount(key);
    locked([&] {
        m_late = Late{key, now + static_cast<std::size_t>(std::max(nth, 1)),
                      now + static_cast<std::size_t>(std::max(handedInAt, nth + 1)), key, false, false, false, std::nullopt};
    });
}

void DeviceUnit::handInLateReplyAfter(const RequestKey& afterKey, int afterAt, bool after)
{
    const std::size_t now = m_device.requestCount(afterKey);
    locked([&] {
        if (!m_late) return;
        m_late->handKey = afterKey;
        m_late->handedInAt = now + static_cast<std::size_t>(std::max(afterAt, 1));
        m_late->afterReply = after;
    });
}

void DeviceUnit::clearFaults()
{
    locked([&] {
        m_target.reset();
        m_late.reset();
        m_silentForGood = false;
        m_codes.clear();
        m_reshape.clear();
    });
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
        case Fault::Cut: m_reshape[key] = [](Bytes& m) { cut(m, m.size() / 2); }; return true;
        case Fault::Grown: m_reshape[key] = [](Bytes& m) { m.insert(m.end() - 1, 16, 0x00); }; return true;
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

void DeviceUnit::releaseReplies()
{
    locked([&] { m_held.clear(); });
    m_released.notify_all();
}

void DeviceUnit::sendPatchNotice(std::int32_t group, std::int32_t bank, std::int32_t patch)
{
    if (auto message = m_patches.patchMessage(deviceID(), group, bank, patch))
        send(RequestKey::maker(0x45), std::move(*message));
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
        if (const auto it = m_reshape.find(key); it != m_reshape.end()) {
            it->second(message);
            m_reshape.erase(it);
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
    for (const std::uint8_t function : {0x52, 0x53}) {
        m_device.setHandler(RequestKey::maker(function), [this](SimulatedDevice& device, const Bytes& request) {
            const RequestKey key = *RequestKey::of(request);
            const auto code = locked([&]() -> std::uint8_t {
                const auto it = m_codes.find(key);
                if (it == m_codes.end() || it->second.first <= 0) return 0;
                --it->second.first;
                return static_cast<std::uint8_t>(it->second.second & 0x7F);
            });
            send(key, device.makerMessage(0x00, {code}));
        });
    }
    // The descriptions, each answered under its own function code.
    const auto describe = [this](std::uint8_t asked, std::uint8_t answered, std::function<Bytes()> body) {
        m_device.setHandler(RequestKey::maker(asked), [this, asked, answered, body](SimulatedDevice& device, const Bytes&) {
            send(RequestKey::maker(asked), device.makerMessage(answered, locked(body)));
        });
    };
    describe(0x55, 0x54, [this] {
        Bytes body;
        appendStream(body, m_descriptions.qfxGeneration);
        appendStream(body, m_descriptions.qfxRegions);
        appendStream(body, m_descriptions.qfxRegionLevels);
        body.push_back(m_descriptions.qfxUnits & 0x7F);
        return body;
    });
    describe(0x48, 0x47, [this] {
        Bytes body;
        appendStream(body, m_descriptions.patchGeneration);
        appendStream(body, m_descriptions.patchRegions);
        body.push_back(m_descriptions.patchUnits & 0x7F);
        return body;
    });
    describe(0x44, 0x43, [this] {
        const auto layout = m_patches.layout();
        Bytes body;
        append14(body, layout.groups * layout.banks * layout.patchs);
        append14(body, layout.maxPatchSize);
        append14(body, layout.banks * layout.patchs);
        append14(body, layout.patchs);
        for (const auto byte : m_descriptions.display) body.push_back(byte & 0x7F);
        for (const auto byte : m_descriptions.groupDisplayText) body.push_back(byte & 0x7F);
        return body;
    });
    // Patch memory and file system answer their own requests.
    const auto route = [this](const RequestKey& key, auto& part) {
        m_device.setHandler(key, [this, key, &part](SimulatedDevice&, const Bytes& request) {
            part.handle(request, deviceID(), [this, key](Bytes reply) { send(key, std::move(reply)); });
        });
    };
    for (const std::uint8_t function : kPatchFunctions) route(RequestKey::maker(function), m_patches);
    for (const std::uint8_t sub : {0x05, 0x09, 0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x27, 0x28, 0x29})
        route(RequestKey::fileSystem(sub), m_files);
}

}  // namespace sim
