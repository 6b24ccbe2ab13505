#include "device/transport/CMidiDevice.h"

#include <cstdio>

#include "common/Log.h"
#include "device/formats/MIDIMessageUtil.h"
#include "platform/files/ApplicationSupport.h"
#include "platform/files/LocalFileManager.h"

namespace {

// The shortest reply (F0 and F7 not counted) that holds every field its kind reads. Anything shorter is
// dropped: nothing is ever read beyond a message.
constexpr std::int64_t kMinIdentity = 13;
constexpr std::int64_t kMinPatchData = 17;
constexpr std::int64_t kMinSupportQFX = 94;
constexpr std::int64_t kMinSupportPatch = 20;
constexpr std::int64_t kMinAdvanced = 28;
constexpr std::int64_t kMinRespondence = 5;
constexpr std::int64_t kMinFFSRespondence = 10;
constexpr std::int64_t kMinFFSACK = 6;
constexpr std::int64_t kMinDiskFree = 20;
constexpr std::int64_t kMinInforRead = 22;
constexpr std::int64_t kMinFindFirst = 34;
constexpr std::int64_t kMinFileSystemData = 15;  // file length, open, write, both reads

constexpr std::uint8_t kUniversal = 0x7E;
constexpr std::uint8_t kMaker = 0x7D;
constexpr std::int64_t kMaxSysExSpeed = 50000000;

std::uint32_t fiveByte(const std::uint8_t* bytes) { return Convert7to32(bytes, 5).value_or(0); }

// The probes sent ahead of a request held while a code may still come (OwedCodeAnswers): harmless queries
// answered by a value, then the acknowledgement the unit awaits before it sends the query's code. The device
// ID goes into byte 3.
constexpr std::uint8_t kInforReadProbe[] = {0xF0, 0x7D, 0x00, 0x00, 0x60, 0x11, 0xF7};
constexpr std::uint8_t kDiskFreeProbe[] = {0xF0, 0x7D, 0x00, 0x00, 0x60, 0x29, 0xF7};
constexpr std::uint8_t kAcknowledgement[] = {0xF0, 0x7D, 0x00, 0x00, 0x60, 0x05, 0x00, 0xF7};

template <std::size_t N>
Bytes withDeviceID(const std::uint8_t (&message)[N], std::uint8_t deviceID)
{
    Bytes bytes(message, message + N);
    bytes[3] = deviceID;
    return bytes;
}

// The host's acknowledgement of a result: it must follow that result, so no probe can go ahead of it.
bool isAcknowledgement(const std::uint8_t* bytes, std::int64_t size)
{
    return size == 8 && bytes[4] == 0x60 && bytes[5] == 0x05;
}

// A request answered first by a value that depends on what it asks, and names none of it (a length no
// file, a handle no name, a count no chunk): a late one of an ended request would pass for its own. The
// unit-wide queries (its information, the free space, the flush) are asked alike, and the only late
// answer one of them can take is that of the same query cut just before, with nothing asked between.
constexpr bool answeredByNamelessValue(CMidiDevice::ReplyKind kind)
{
    using Kind = CMidiDevice::ReplyKind;
    return kind == Kind::FFileLength || kind == Kind::FFindFirst || kind == Kind::FOpen || kind == Kind::FWrite ||
           kind == Kind::FRead1;
}

// The first `keep` bytes of the 7-bit stream decode of `count` bytes.
Bytes streamField(const std::uint8_t* bytes, std::int64_t count, std::size_t keep)
{
    Bytes decoded = MIDIMessageUtil::convert78Type2(bytes, count);
    decoded.resize(keep, 0);
    return decoded;
}

std::uint16_t streamU16(const std::uint8_t* bytes, std::int64_t count)
{
    const Bytes decoded = streamField(bytes, count, 2);
    return static_cast<std::uint16_t>(decoded[0] | (decoded[1] << 8));
}

std::uint32_t streamU32(const std::uint8_t* bytes)
{
    const Bytes decoded = streamField(bytes, 5, 4);
    return std::uint32_t(decoded[0]) | std::uint32_t(decoded[1]) << 8 | std::uint32_t(decoded[2]) << 16 |
           std::uint32_t(decoded[3]) << 24;
}

bool tooShort(const char* kind, std::int64_t size, std::int64_t minimum)
{
    if (size >= minimum) return false;
    RIG_LOG("dropped a %lld-byte %s reply (needs %lld)", static_cast<long long>(size), kind,
            static_cast<long long>(minimum));
    return true;
}

}  // namespace

static_assert(CMidiDevice::kReplyKinds <= OwedCodeAnswers::kKinds);

CMidiDevice::CMidiDevice(platform::MidiSystem& system, platform::Dispatch& dispatch, platform::FileManager& files,
                         std::string rootFolder)
    : m_system(system),
      m_dispatch(dispatch),
      m_files(files),
      m_rootFolder(std::move(rootFolder)),
      m_midiIn(system),
      m_midiOut(system),
      m_patchFiles(std::make_unique<platform::ThreadPool>("patch-files", 1, dispatch.mainExecutor()))
{
    clearBufferBlockWaiting();
    createConnection();
}

CMidiDevice::~CMidiDevice()
{
    // Closing the input port waits for a reply being recognised, so none outlives the registry.
    close();
    // Stores already asked for, held ones too, still land (and report) before the state they use goes.
    flushPatchFiles();
    m_patchFiles.reset();
    if (m_dispatch.main().isCurrent()) *m_alive = false;
    else m_dispatch.main().sync([alive = m_alive] { *alive = false; });
}

CMidiDevice& CMidiDevice::sharedCMidiDevice()
{
    static platform::LocalFileManager files;
    static CMidiDevice device(platform::MidiSystem::shared(), platform::Dispatch::shared(), files,
                              platform::ApplicationSupport::rootFolder());
    return device;
}

// --- connection ---

void CMidiDevice::createConnection()
{
    if (!m_dispatch.main().isCurrent()) {
        m_dispatch.main().sync([this] { createConnection(); });
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    const platform::MidiRef client =
        m_system.createClient("PEXO Rigmora", [this, alive](const platform::MidiNotification& notification) {
            const auto token = alive.lock();
            if (token && *token) midiNotifyCallback(notification);
        });
    if (client == platform::kMidiNoRef) RIG_LOG("the MIDI client could not be created");
    {
        std::lock_guard lock(m_stateMutex);
        m_client = client;
    }
    m_midiIn.openInputPortWithClient(client);
    m_midiOut.openOutputPortWithClient(client);
}

void CMidiDevice::close()
{
    m_midiIn.closeInputPort();
    m_midiOut.closeOutputPort();
    platform::MidiRef client;
    {
        std::lock_guard lock(m_stateMutex);
        client = std::exchange(m_client, platform::kMidiNoRef);
    }
    if (client != platform::kMidiNoRef) m_system.disposeClient(client);
}

void CMidiDevice::setMidiDeviceDelegate(std::shared_ptr<MidiDeviceDelegate> delegate)
{
    std::lock_guard lock(m_stateMutex);
    m_delegate = std::move(delegate);
}

std::shared_ptr<MidiDeviceDelegate> CMidiDevice::delegate() const
{
    std::lock_guard lock(m_stateMutex);
    return m_delegate;
}

bool CMidiDevice::scanDevicesAndConnect()
{
    const std::size_t count = m_system.numberOfDevices();
    while (true) {
        platform::MidiRef device;
        {
            std::lock_guard lock(m_stateMutex);
            if (m_currentDeviceConnect >= count) {
                // The next scan starts from the first device; this one does not wrap.
                m_currentDeviceConnect = 0;
                return false;
            }
            device = m_system.device(static_cast<std::size_t>(m_currentDeviceConnect++));
        }
        if (m_system.integerProperty(device, platform::MidiProperty::Offline).value_or(0) != 0) continue;
        if (connectDevice(device)) {
            std::lock_guard lock(m_stateMutex);
            m_currentDevice = device;
            return true;
        }
    }
}

void CMidiDevice::restartScan()
{
    std::lock_guard lock(m_stateMutex);
    m_currentDeviceConnect = 0;
}

bool CMidiDevice::connectDevice(platform::MidiRef device)
{
    const std::size_t entities = m_system.numberOfEntities(device);
    for (std::size_t i = 0; i < entities; ++i) {
        const platform::MidiRef entity = m_system.entity(device, i);
        const platform::MidiRef source = m_system.entitySource(entity, 0);
        const platform::MidiRef destination = m_system.entityDestination(entity, 0);
        m_system.setIntegerProperty(source, platform::MidiProperty::MaxSysExSpeed, kMaxSysExSpeed);
        m_system.setIntegerProperty(destination, platform::MidiProperty::MaxSysExSpeed, kMaxSysExSpeed);
        if (source == platform::kMidiNoRef || destination == platform::kMidiNoRef) continue;
        // Two sources feeding one reassembly buffer would interleave their bytes: let go of the old one.
        m_midiIn.disconnectSource();
        m_midiIn.start(source);
        m_midiIn.setCMidiInDelegate(this);
        m_midiOut.start(destination);
        return true;
    }
    RIG_LOG("device %u has no entity with both a source and a destination", device);
    return false;
}

bool CMidiDevice::connectNewDeviceDetected()
{
    platform::MidiRef device;
    {
        std::lock_guard lock(m_stateMutex);
        device = m_newDevicePlugin;
    }
    if (device == kNoDevice || !connectDevice(device)) return false;
    std::lock_guard lock(m_stateMutex);
    m_currentDevice = device;
    return true;
}

bool CMidiDevice::checkConnectCurrentDevice()
{
    const std::uint32_t current = getCurrentDevice();
    const std::size_t count = m_system.numberOfDevices();
    for (std::size_t i = 0; i < count; ++i) {
        if (m_system.device(i) != current) continue;
        if (m_system.integerProperty(current, platform::MidiProperty::Offline).value_or(0) == 0) return true;
        break;
    }
    // Offline, or no longer listed at all (an unplugged device leaves the list here).
    clearCurrentDeviceInMidiDevice();
    return false;
}

void CMidiDevice::disconnectCurrentDeviceInMidiDevice()
{
    clearCurrentDeviceInMidiDevice();
    m_midiIn.disconnectSource();
    m_midiOut.disconnectDestionation();
}

void CMidiDevice::clearCurrentDeviceInMidiDevice()
{
    std::lock_guard lock(m_stateMutex);
    m_currentDevice = kNoDevice;
}

std::uint32_t CMidiDevice::getCurrentDevice() const
{
    std::lock_guard lock(m_stateMutex);
    return m_currentDevice;
}

std::uint64_t CMidiDevice::currentDeviceConnect() const
{
    std::lock_guard lock(m_stateMutex);
    return m_currentDeviceConnect;
}

std::uint32_t CMidiDevice::newDevicePlugin() const
{
    std::lock_guard lock(m_stateMutex);
    return m_newDevicePlugin;
}

std::optional<std::string> CMidiDevice::getDeviceName()
{
    const std::uint32_t current = getCurrentDevice();
    if (current == kNoDevice) return std::nullopt;
    return getName(current);
}

std::optional<std::string> CMidiDevice::getName(platform::MidiRef object)
{
    return m_system.stringProperty(object, platform::MidiProperty::Name);
}

std::optional<std::string> CMidiDevice::getDisplayName(platform::MidiRef object)
{
    return m_system.stringProperty(object, platform::MidiProperty::DisplayName);
}

void CMidiDevice::sendSysExMessage(const std::uint8_t* bytes, std::int64_t size)
{
    m_midiOut.sendSysExMessage(bytes, size);
}

void CMidiDevice::receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages)
{
    // Recognised right here on the MIDI input thread: in arrival order, one at a time, and never behind
    // work queued on the shared pools, which would hold a reply back until its watchdog fired.
    m_messagesHeard.fetch_add(messages.size());
    for (const OKVSysExMessage& message : messages) handleByteDataReveices(message.byteData.data(), message.size);
}

std::optional<std::string> CMidiDevice::createFolderInBundleWithType(int type)
{
    const std::string path = m_rootFolder + (type == 1 ? "/Device/Effect" : "/Device/Patch");
    if (m_files.isDirectory(path)) return path;
    platform::Error error;
    if (!m_files.createDirectory(path, true, &error)) {
        RIG_LOG("the device folder %s could not be created: %s", path.c_str(), error.description.c_str());
        return std::nullopt;
    }
    return path;
}

void CMidiDevice::midiNotifyCallback(const platform::MidiNotification& notification)
{
    using platform::MidiNotificationKind;
    using platform::MidiObjectType;
    switch (notification.kind) {
    case MidiNotificationKind::ObjectAdded:
        if (notification.childType == MidiObjectType::Device) notifyAddDevice(notification.child);
        break;
    case MidiNotificationKind::ObjectRemoved:
        if (notification.childType == MidiObjectType::Device) notifyRemoveDevice(notification.child);
        break;
    case MidiNotificationKind::PropertyChanged:
        if (notification.objectType == MidiObjectType::Device) notifyChangeStateDevice(notification.object);
        break;
    case MidiNotificationKind::SetupChanged: break;
    }
}

void CMidiDevice::notifyAddDevice(platform::MidiRef device)
{
    {
        std::lock_guard lock(m_stateMutex);
        if (device == m_newDevicePlugin) return;
        m_newDevicePlugin = device;
    }
    if (auto listener = delegate()) listener->getANewDevicePlugIn();
}

void CMidiDevice::notifyRemoveDevice(platform::MidiRef device)
{
    bool wasCurrent;
    {
        std::lock_guard lock(m_stateMutex);
        wasCurrent = device == m_currentDevice;
        // Forgetting the announced device here too lets one that never connected be announced on its return.
        if (!wasCurrent && device == m_newDevicePlugin) m_newDevicePlugin = kNoDevice;
    }
    if (!wasCurrent) return;
    if (auto listener = delegate()) listener->notifyRemoveCurrentConnectedDevice();
    std::lock_guard lock(m_stateMutex);
    m_newDevicePlugin = kNoDevice;
}

void CMidiDevice::notifyChangeStateDevice(platform::MidiRef device)
{
    if (m_system.integerProperty(device, platform::MidiProperty::Offline).value_or(0) != 0) notifyRemoveDevice(device);
    else notifyAddDevice(device);
}

// --- reply registry ---

namespace {

template <typename Tuple, std::size_t... I>
bool handlerSet(const Tuple& handlers, std::size_t kind, std::index_sequence<I...>)
{
    bool set = false;
    ((kind == I ? (void)(set = static_cast<bool>(std::get<I>(handlers))) : void()), ...);
    return set;
}

template <typename Tuple, std::size_t... I>
void resetHandler(Tuple& handlers, std::size_t kind, std::index_sequence<I...>)
{
    ((kind == I ? (void)(std::get<I>(handlers) = nullptr) : void()), ...);
}

constexpr auto kKindIndices = std::make_index_sequence<CMidiDevice::kReplyKinds>{};

}  // namespace

bool CMidiDevice::pendingLocked(ReplyKind kind) const
{
    const auto index = static_cast<std::size_t>(kind);
    return m_flags[index] == 1 && handlerSet(m_handlers, index, kKindIndices);
}

void CMidiDevice::clearLocked(ReplyKind kind)
{
    const auto index = static_cast<std::size_t>(kind);
    m_flags[index] = 0;
    resetHandler(m_handlers, index, kKindIndices);
    if (kind == ReplyKind::FFSRespondence) m_ffsRespondenceMatch = nullptr;
    if (kind == ReplyKind::FFindFirst) m_findFirstMatch = nullptr;
}

bool CMidiDevice::busyLocked(ReplyKind kind) const
{
    if (pendingLocked(kind)) return true;
    if (!m_held) return false;
    // The probe's acknowledgement takes a code while any request is held.
    return kind == ReplyKind::FFSRespondence || static_cast<std::size_t>(kind) == m_held->value;
}

bool CMidiDevice::isPending(ReplyKind kind) const
{
    std::lock_guard lock(m_registryMutex);
    return busyLocked(kind);
}

void CMidiDevice::settleOwedCodes()
{
    std::lock_guard lock(m_registryMutex);
    m_owedCodes.settledByAgreement();
}

std::uint64_t CMidiDevice::strayFileSystemReplies() const
{
    std::lock_guard lock(m_registryMutex);
    return m_strayFileSystemReplies;
}

std::int32_t CMidiDevice::numGroupRegister() const
{
    std::lock_guard lock(m_registryMutex);
    return m_numGroupRegister;
}

std::int32_t CMidiDevice::numBankRegister() const
{
    std::lock_guard lock(m_registryMutex);
    return m_numBankRegister;
}

std::int32_t CMidiDevice::numPatchRegister() const
{
    std::lock_guard lock(m_registryMutex);
    return m_numPatchRegister;
}

template <CMidiDevice::ReplyKind kind, typename Handler>
bool CMidiDevice::registerKind(Handler handler, const std::uint8_t* bytes, std::int64_t size, bool send)
{
    constexpr auto index = static_cast<std::size_t>(kind);
    std::optional<Bytes> probe;
    {
        std::lock_guard lock(m_registryMutex);
        if (busyLocked(kind)) return false;
        // A request whose answer names nothing (a bare code, or a value of a kind still owed) waits for a probe.
        constexpr bool bareCode = kind == ReplyKind::FFSRespondence;
        if constexpr (bareCode || answeredByNamelessValue(kind)) {
            constexpr std::size_t owedKind = bareCode ? OwedCodeAnswers::kKinds : index;
            if (send && size > 5 && !(bareCode && isAcknowledgement(bytes, size)) &&
                m_owedCodes.mustProbe(bareCode, owedKind)) {
                HeldRequest request{Bytes(bytes, bytes + size), bareCode, owedKind,
                                    [this, handler](OwedCodeAnswers::Request at) mutable {
                                        m_flags[index] = 1;
                                        std::get<index>(m_handlers) = std::move(handler);
                                        m_sentAt[index] = at;
                                    }};
                probe = holdLocked(request);
            }
        }
        if (!probe) {
            m_flags[index] = 1;
            std::get<index>(m_handlers) = std::move(handler);
            // One registered without a request awaits the other answer to the request about to leave.
            m_sentAt[index] = send ? m_owedCodes.sent() : m_owedCodes.next();
        }
    }
    if (probe) sendSysExMessage(probe->data(), static_cast<std::int64_t>(probe->size()));
    else if (send) sendSysExMessage(bytes, size);
    return true;
}

template <CMidiDevice::ReplyKind kind>
std::tuple_element_t<static_cast<std::size_t>(kind), CMidiDevice::Handlers> CMidiDevice::take(
    std::optional<ReplyKind> partner, const std::function<bool()>& belongs)
{
    std::lock_guard lock(m_registryMutex);
    constexpr auto index = static_cast<std::size_t>(kind);
    constexpr bool fileSystem = kind >= ReplyKind::FFSRespondence;
    const auto stray = [&] {
        if constexpr (fileSystem) ++m_strayFileSystemReplies;
        if constexpr (kind == ReplyKind::FFSRespondence) m_owedCodes.strayCode();
        else if constexpr (fileSystem) m_owedCodes.strayValue(index);
    };
    if (!pendingLocked(kind)) {
        RIG_LOG("a reply of kind %d arrived with no request waiting; ignored", static_cast<int>(kind));
        stray();
        return nullptr;
    }
    if (belongs && !belongs()) {
        RIG_LOG("a reply of kind %d belongs to an earlier request; dropped", static_cast<int>(kind));
        stray();
        return nullptr;
    }
    if constexpr (kind == ReplyKind::FFSRespondence) m_takenCodeMayBeLate = m_owedCodes.codeTaken(m_sentAt[index]);
    else if constexpr (fileSystem) m_owedCodes.valueTaken(index, m_sentAt[index]);
    auto handler = std::move(std::get<static_cast<std::size_t>(kind)>(m_handlers));
    clearLocked(kind);
    if (partner) clearLocked(*partner);
    return handler;
}

bool CMidiDevice::registerIndentityReplyMessage(IDReplyBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::Identity>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerPatchDataDumpMessage(PatchDataDumpBlock handler, const std::uint8_t* bytes,
                                               std::int64_t size, std::int32_t patchNum, std::int32_t bankNum,
                                               std::int32_t groupNum)
{
    {
        std::lock_guard lock(m_registryMutex);
        if (pendingLocked(ReplyKind::PatchData)) return false;
        m_flags[static_cast<std::size_t>(ReplyKind::PatchData)] = 1;
        std::get<static_cast<std::size_t>(ReplyKind::PatchData)>(m_handlers) = std::move(handler);
        m_numPatchRegister = patchNum;
        m_numBankRegister = bankNum;
        m_numGroupRegister = groupNum;
    }
    sendSysExMessage(bytes, size);
    return true;
}

bool CMidiDevice::registerSupportQFXInformationMessage(SupportQFXInformationBlock handler, const std::uint8_t* bytes,
                                                       std::int64_t size)
{
    return registerKind<ReplyKind::SupportQFXInformation>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerSupportPatchInformationMessage(SupportPatchInformationBlock handler,
                                                         const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::SupportPatchInformation>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerAdvencedPatchDataInformationMessage(AdvancedPatchDataInformationBlock handler,
                                                              const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::AdvancedPatchInformation>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerRespondenceMessage(RespondenceBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::Respondence>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerRespondenceMessage(RespondenceBlock handler)
{
    return registerKind<ReplyKind::Respondence>(std::move(handler), nullptr, 0, false);
}

bool CMidiDevice::registerFFSRespondenceMessage(FFSRespondenceBlock handler, const std::uint8_t* bytes,
                                                std::int64_t size)
{
    return registerKind<ReplyKind::FFSRespondence>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFFSRespondenceMessage(FFSRespondenceBlock handler, FFSRespondenceMatch match)
{
    std::lock_guard lock(m_registryMutex);
    if (busyLocked(ReplyKind::FFSRespondence)) return false;
    constexpr auto index = static_cast<std::size_t>(ReplyKind::FFSRespondence);
    m_flags[index] = 1;
    std::get<index>(m_handlers) = std::move(handler);
    m_ffsRespondenceMatch = std::move(match);
    m_sentAt[index] = m_owedCodes.next();
    return true;
}

std::optional<Bytes> CMidiDevice::holdLocked(HeldRequest& request)
{
    if (!m_owedCodes.mustProbe(request.code, request.value)) return std::nullopt;
    std::optional<Bytes> probe = probeLocked(request.bytes[3], request.value);
    if (probe) m_held = std::move(request);
    return probe;
}

std::optional<Bytes> CMidiDevice::probeLocked(std::uint8_t deviceID, std::size_t held)
{
    // A kind owed nothing first. A value of a kind still owed answers the oldest request it is owed for, or
    // a later one: that settles every debt only when all of them are older. The held request's own kind is
    // the one late value it must not take.
    const auto usable = [this, held](ReplyKind kind, bool owed) {
        const auto index = static_cast<std::size_t>(kind);
        return index != held && !pendingLocked(kind) && m_owedCodes.valueOwed(index) == owed &&
               m_owedCodes.settlesAll(index);
    };
    std::optional<ReplyKind> kind;
    for (const bool owed : {false, true})
        for (const ReplyKind candidate : {ReplyKind::InforRead, ReplyKind::DiskFree})
            if (!kind && usable(candidate, owed)) kind = candidate;
    if (!kind) {
        RIG_LOG("no query can tell late answers apart now; a request goes with its answer in doubt");
        return std::nullopt;
    }
    const std::uint64_t generation = m_registryGeneration;
    Bytes bytes;
    if (*kind == ReplyKind::InforRead) {
        bytes = withDeviceID(kInforReadProbe, deviceID);
        std::get<static_cast<std::size_t>(ReplyKind::InforRead)>(m_handlers) =
            [this, generation](bool, std::uint16_t, std::uint16_t, std::uint16_t, const Bytes&) {
                probeAnswered(generation);
            };
    } else {
        bytes = withDeviceID(kDiskFreeProbe, deviceID);
        std::get<static_cast<std::size_t>(ReplyKind::DiskFree)>(m_handlers) = [this, generation](bool, std::uint32_t,
                                                                                               std::uint32_t) {
            probeAnswered(generation);
        };
    }
    m_flags[static_cast<std::size_t>(*kind)] = 1;
    m_sentAt[static_cast<std::size_t>(*kind)] = m_owedCodes.sent();
    m_owedCodes.probeSent();
    return bytes;
}

void CMidiDevice::probeAnswered(std::uint64_t generation)
{
    Bytes acknowledgement;
    {
        std::lock_guard lock(m_registryMutex);
        if (generation != m_registryGeneration || !m_held) return;
        m_owedCodes.probeAnswered();
        // The unit sends the probe's code once acknowledged; it comes before the held request's answer.
        acknowledgement = withDeviceID(kAcknowledgement, m_held->bytes[3]);
        constexpr auto index = static_cast<std::size_t>(ReplyKind::FFSRespondence);
        m_flags[index] = 1;
        std::get<index>(m_handlers) = [this, generation](bool, std::int32_t) { probeAcknowledged(generation); };
        m_ffsRespondenceMatch = nullptr;
        m_sentAt[index] = m_owedCodes.sent();
    }
    sendSysExMessage(acknowledgement.data(), static_cast<std::int64_t>(acknowledgement.size()));
}

void CMidiDevice::probeAcknowledged(std::uint64_t generation)
{
    Bytes bytes;
    {
        std::lock_guard lock(m_registryMutex);
        if (generation != m_registryGeneration || !m_held) return;
        m_owedCodes.probeAcknowledged();
        // A request answered by a code may have gone out unawaited since the probe (a stray file's close).
        std::optional<Bytes> probe;
        if (m_owedCodes.mustProbe(m_held->code, m_held->value)) probe = probeLocked(m_held->bytes[3], m_held->value);
        bytes = probe ? std::move(*probe) : releaseHeldLocked();
    }
    sendSysExMessage(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

Bytes CMidiDevice::releaseHeldLocked()
{
    HeldRequest held = std::move(*m_held);
    m_held.reset();
    held.install(m_owedCodes.sent());
    return std::move(held.bytes);
}

bool CMidiDevice::registerDiskFreeMessage(DiskFreeBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::DiskFree>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerInforReadMessage(InforReadBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::InforRead>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFFileLengthMessage(FFileLengthBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FFileLength>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFFindFirstMessage(FFindFirstBlock handler, const std::uint8_t* bytes, std::int64_t size,
                                            FFindFirstMatch match)
{
    std::optional<Bytes> probe;
    {
        std::lock_guard lock(m_registryMutex);
        if (busyLocked(ReplyKind::FFindFirst)) return false;
        constexpr auto find = static_cast<std::size_t>(ReplyKind::FFindFirst);
        constexpr auto code = static_cast<std::size_t>(ReplyKind::FFSRespondence);
        // A search awaiting a code for a missing file as well takes a bare code like any request.
        const bool codeToo = pendingLocked(ReplyKind::FFSRespondence);
        if (size > 5 && m_owedCodes.mustProbe(codeToo, find)) {
            HeldRequest request{
                Bytes(bytes, bytes + size), codeToo, find,
                [this, handler, match, codeHandler = codeToo ? std::get<code>(m_handlers) : FFSRespondenceBlock{},
                 codeMatch = m_ffsRespondenceMatch](OwedCodeAnswers::Request at) mutable {
                    if (codeHandler) {
                        m_flags[code] = 1;
                        std::get<code>(m_handlers) = std::move(codeHandler);
                        m_ffsRespondenceMatch = std::move(codeMatch);
                        m_sentAt[code] = at;
                    }
                    m_flags[find] = 1;
                    std::get<find>(m_handlers) = std::move(handler);
                    m_findFirstMatch = std::move(match);
                    m_sentAt[find] = at;
                }};
            probe = holdLocked(request);
            if (probe && codeToo) clearLocked(ReplyKind::FFSRespondence);
        }
        if (!probe) {
            m_flags[find] = 1;
            std::get<find>(m_handlers) = std::move(handler);
            m_findFirstMatch = std::move(match);
            m_sentAt[find] = m_owedCodes.sent();
        }
    }
    if (probe) sendSysExMessage(probe->data(), static_cast<std::int64_t>(probe->size()));
    else sendSysExMessage(bytes, size);
    return true;
}

bool CMidiDevice::registerFOpenMessage(FOpenBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FOpen>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFWriteMessage(FWriteBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FWrite>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFRead1Message(FRead1Block handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FRead1>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFRead2Message(FRead2Block handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FRead2>(std::move(handler), bytes, size, true);
}

bool CMidiDevice::registerFFSACKMessage(FFSACKBlock handler, const std::uint8_t* bytes, std::int64_t size)
{
    return registerKind<ReplyKind::FFSACK>(std::move(handler), bytes, size, true);
}

void CMidiDevice::setStrayOpenHandler(std::function<void(const Bytes& handle)> handler)
{
    std::lock_guard lock(m_registryMutex);
    m_strayOpen = std::move(handler);
}

bool CMidiDevice::awaitsReply() const
{
    std::lock_guard lock(m_registryMutex);
    if (m_held) return true;
    for (std::size_t kind = 0; kind < kReplyKinds; ++kind)
        if (pendingLocked(static_cast<ReplyKind>(kind))) return true;
    return false;
}

void CMidiDevice::sendUnawaitedFileRequest(const std::uint8_t* bytes, std::int64_t size)
{
    {
        std::lock_guard lock(m_registryMutex);
        m_owedCodes.unawaitedSent(m_owedCodes.sent());
    }
    sendSysExMessage(bytes, size);
}

void CMidiDevice::clearBufferBlockWaiting()
{
    // A run cut short stores what it received, as it did patch by patch.
    flushPatchFiles();
    {
        std::lock_guard lock(m_registryMutex);
        // The unit may still answer the requests the cut chain waited on, later: with a bare code, or with a
        // value of the kind awaited. A request held behind a probe never left.
        for (auto kind = static_cast<std::size_t>(ReplyKind::FFSRespondence); kind < kReplyKinds; ++kind) {
            if (!pendingLocked(static_cast<ReplyKind>(kind))) continue;
            if (static_cast<ReplyKind>(kind) == ReplyKind::FFSRespondence) m_owedCodes.codeCut(m_sentAt[kind]);
            else m_owedCodes.valueCut(kind, m_sentAt[kind]);
        }
        m_held.reset();
        m_owedCodes.cleared();
        ++m_registryGeneration;
        for (std::size_t kind = 0; kind < kReplyKinds; ++kind) clearLocked(static_cast<ReplyKind>(kind));
        m_numGroupRegister = m_numBankRegister = m_numPatchRegister = -1;
    }
    std::lock_guard lock(m_stateMutex);
    m_newDevicePlugin = kNoDevice;
}

bool CMidiDevice::compileData(const std::uint8_t* data, std::int64_t size, std::uint32_t crc)
{
    return static_cast<std::uint32_t>(CalcCrc32(data, size)) == crc;
}

void CMidiDevice::handleByteDataReveices(const std::uint8_t* b, std::int64_t size)
{
    if (b == nullptr || size < 4) return;  // too short to name any kind
    if (b[0] == kUniversal) {
        if (b[3] != 0x02 || tooShort("identity", size, kMinIdentity)) return;
        if (auto handler = take<ReplyKind::Identity>(std::nullopt))
            handler(true, Bytes{b[6], b[5], b[8], b[7]}, Bytes(b + 9, b + 13));
        return;
    }
    if (b[0] != kMaker) return;
    switch (b[3]) {
    case 0x45: handlePatchData(b, size); return;
    case 0x00:
        if (tooShort("respondence", size, kMinRespondence)) return;
        {
            // A dump request answered by a respondence is asked again (the retry rule).
            std::lock_guard lock(m_registryMutex);
            if (pendingLocked(ReplyKind::PatchData) && pendingLocked(ReplyKind::Respondence))
                m_repeatedDump.askedAgain({m_numGroupRegister, m_numBankRegister, m_numPatchRegister});
        }
        if (auto handler = take<ReplyKind::Respondence>(ReplyKind::PatchData)) handler(true, b[4]);
        return;
    case 0x60: handleFileSystemData(b, size); return;
    case 0x54:
        if (tooShort("supported effect", size, kMinSupportQFX)) return;
        if (auto handler = take<ReplyKind::SupportQFXInformation>(std::nullopt))
            handler(true, streamField(b + 4, 5, 4), streamField(b + 9, 10, 8), streamField(b + 19, 74, 64), b[93]);
        return;
    case 0x47:
        if (tooShort("supported patch", size, kMinSupportPatch)) return;
        if (auto handler = take<ReplyKind::SupportPatchInformation>(std::nullopt))
            handler(true, streamField(b + 4, 5, 4), streamField(b + 9, 10, 8), b[19]);
        return;
    case 0x43: {
        if (tooShort("advanced patch", size, kMinAdvanced)) return;
        const auto record = AdvencedPatchInformation::fromAdvancedPatchReply(b, static_cast<std::size_t>(size));
        if (!record) return;
        if (auto handler = take<ReplyKind::AdvancedPatchInformation>(std::nullopt)) handler(true, record->copy());
        return;
    }
    default: return;
    }
}

void CMidiDevice::handleFileSystemData(const std::uint8_t* b, std::int64_t size)
{
    if (size < 5) return;
    if (b[4] == 0x03) {
        if (tooShort("file-system respondence", size, kMinFFSRespondence)) return;
        const auto code = static_cast<std::int32_t>(fiveByte(b + 5));
        if (auto handler = take<ReplyKind::FFSRespondence>(
                ReplyKind::FFindFirst, [&] { return !m_ffsRespondenceMatch || m_ffsRespondenceMatch(code); }))
            handler(true, code);
        return;
    }
    if (b[4] == 0x05) {
        if (tooShort("file-system ACK", size, kMinFFSACK)) return;
        if (auto handler = take<ReplyKind::FFSACK>(std::nullopt)) handler(true, b[5]);
        return;
    }
    if (b[4] != 0x04 || size < 6) return;
    switch (b[5]) {
    case 0x29:
        if (tooShort("disk free", size, kMinDiskFree)) return;
        if (auto handler = take<ReplyKind::DiskFree>(std::nullopt)) handler(true, streamU32(b + 10), streamU32(b + 15));
        return;
    case 0x11:
        if (tooShort("information read", size, kMinInforRead)) return;
        if (auto handler = take<ReplyKind::InforRead>(std::nullopt))
            handler(true, streamU16(b + 10, 3), streamU16(b + 13, 3), streamU16(b + 16, 3),
                    MIDIMessageUtil::convert78Type2(b + 19, 3));
        return;
    case 0x28:
        if (tooShort("file length", size, kMinFileSystemData)) return;
        if (auto handler = take<ReplyKind::FFileLength>(std::nullopt)) handler(true, fiveByte(b + 10));
        return;
    case 0x25: {
        if (tooShort("find first", size, kMinFindFirst)) return;
        std::string name;
        for (int i = 14; i <= 26; ++i)
            if (b[i] != 0) name.push_back(static_cast<char>(b[i]));
        if (auto handler = take<ReplyKind::FFindFirst>(ReplyKind::FFSRespondence,
                                                       [&] { return !m_findFirstMatch || m_findFirstMatch(name); }))
            handler(true, name, fiveByte(b + 29));
        return;
    }
    case 0x20: {
        if (tooShort("open", size, kMinFileSystemData)) return;
        if (auto handler = take<ReplyKind::FOpen>(std::nullopt)) {
            handler(true, Bytes(b + 10, b + 15));
            return;
        }
        std::function<void(const Bytes&)> stray;
        {
            std::lock_guard lock(m_registryMutex);
            stray = m_strayOpen;
        }
        if (stray) stray(Bytes(b + 10, b + 15));
        return;
    }
    case 0x23:
        if (tooShort("write", size, kMinFileSystemData)) return;
        if (auto handler = take<ReplyKind::FWrite>(std::nullopt)) handler(true, fiveByte(b + 10));
        return;
    case 0x22: {
        if (tooShort("read", size, kMinFileSystemData)) return;
        // A count is the bare fields; a reply longer than that carries data and is never a count, so a
        // late chunk of a read cut off by its watchdog cannot pass for the next read's count.
        const bool countShaped = size == kMinFileSystemData;
        if (countShaped && isPending(ReplyKind::FRead1)) {
            if (auto handler = take<ReplyKind::FRead1>(std::nullopt)) handler(true, fiveByte(b + 10));
            return;
        }
        const Bytes data = MIDIMessageUtil::convert78(b + 10, size - 15);
        if (!compileData(data.data(), static_cast<std::int64_t>(data.size()), fiveByte(b + size - 5))) {
            // A count nobody waits for is the late answer to a read that has ended: the data awaited
            // now is still to come.
            if (countShaped) {
                RIG_LOG("a read count arrived with no count awaited; dropped");
                std::lock_guard lock(m_registryMutex);
                ++m_strayFileSystemReplies;
                m_owedCodes.strayValue(static_cast<std::size_t>(ReplyKind::FRead1));
                return;
            }
            RIG_LOG("read data failed its CRC; the read is left to time out");
            std::lock_guard lock(m_registryMutex);
            clearLocked(ReplyKind::FRead2);
            return;
        }
        if (auto handler = take<ReplyKind::FRead2>(std::nullopt)) handler(true, data);
        return;
    }
    default: return;
    }
}

void CMidiDevice::handlePatchData(const std::uint8_t* b, std::int64_t size)
{
    if (tooShort("patch data", size, kMinPatchData)) return;
    const std::int64_t announced = streamU16(b + 10, 2);
    const Bytes data = MIDIMessageUtil::convert78(b + 12, size - 17);
    if (!compileData(data.data(), static_cast<std::int64_t>(data.size()), fiveByte(b + size - 5))) {
        RIG_LOG("patch data failed its CRC; dropped");
        return;
    }
    // The handler gets the whole decode and the announced count, never a count beyond what was decoded;
    // each user cuts the data to the count itself.
    const std::int64_t length = std::min<std::int64_t>(announced, static_cast<std::int64_t>(data.size()));
    if (length < announced) RIG_LOG("patch data announced %lld bytes but held %lld", static_cast<long long>(announced),
                                    static_cast<long long>(length));
    const std::int32_t group = MIDIMessageUtil::convert78Type2(b + 4, 2)[0];
    const std::int32_t bank = MIDIMessageUtil::convert78Type2(b + 6, 2)[0];
    const std::int32_t patch = MIDIMessageUtil::convert78Type2(b + 8, 2)[0];

    PatchDataDumpBlock handler;
    {
        std::lock_guard lock(m_registryMutex);
        if (pendingLocked(ReplyKind::PatchData) && group == m_numGroupRegister && bank == m_numBankRegister &&
            patch == m_numPatchRegister) {
            handler = std::move(std::get<static_cast<std::size_t>(ReplyKind::PatchData)>(m_handlers));
            clearLocked(ReplyKind::PatchData);
            clearLocked(ReplyKind::Respondence);
            m_numGroupRegister = m_numBankRegister = m_numPatchRegister = -1;
            m_repeatedDump.taken({group, bank, patch}, data);
        } else if (m_repeatedDump.isOtherAnswer({group, bank, patch}, data)) {
            // The unit answered both asks of a dump request asked again: this is the patch just taken.
            RIG_LOG("a second answer to a dump request asked again; dropped");
            return;
        }
    }
    if (handler) handler(true, data, group, bank, patch, length);
    else patchDataChangeWithNumGroup(group, bank, patch, data, length);
}

void CMidiDevice::patchDataChangeWithNumGroup(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                              const Bytes& data, std::int64_t size)
{
    const std::size_t count = static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, std::int64_t(data.size())));
    storePatchFile(group, bank, patch, Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(count)),
                   [this, group, bank, patch](const std::optional<std::string>& path) {
                       if (!path) return;
                       if (auto listener = delegate())
                           listener->notifyPatchDataChange(PatchObject(group, bank, patch, *path));
                   });
}

void CMidiDevice::storePatchFile(std::int32_t group, std::int32_t bank, std::int32_t patch, Bytes data,
                                 PatchStoredBlock stored, bool more)
{
    std::lock_guard lock(m_storeMutex);
    const auto now = std::chrono::steady_clock::now();
    const bool quick = now - m_lastStoreAsked < kQuickStores;
    m_lastStoreAsked = now;
    m_heldStores.push_back(PatchStore{group, bank, patch, std::move(data), std::move(stored)});
    if (more && quick && m_heldStores.size() < kStoreBatch) return;
    postHeldStoresLocked();
}

void CMidiDevice::postHeldStoresLocked()
{
    if (m_heldStores.empty()) return;
    m_patchFiles->async([this, batch = std::exchange(m_heldStores, {})] {
        for (const PatchStore& store : batch) {
            const auto path = writePatchFile(store.group, store.bank, store.patch, store.data);
            if (store.stored) store.stored(path);
        }
    });
}

void CMidiDevice::flushPatchFiles()
{
    std::lock_guard lock(m_storeMutex);
    postHeldStoresLocked();
}

void CMidiDevice::afterPatchFilesStored(std::function<void()> task)
{
    std::lock_guard lock(m_storeMutex);
    postHeldStoresLocked();
    m_patchFiles->async(std::move(task));
}

std::optional<std::string> CMidiDevice::writePatchFile(std::int32_t group, std::int32_t bank, std::int32_t patch,
                                                       const Bytes& data)
{
    const auto folder = createFolderInBundleWithType(0);
    if (!folder) return std::nullopt;
    char name[48];
    std::snprintf(name, sizeof name, "%d_%d_%d.qptc", group, bank, patch);
    const std::string path = *folder + "/" + name;
    // Most patches come back as they were at the last connection: such a file keeps its bytes and its time.
    if (m_files.fileSize(path) == data.size() && m_files.readFile(path) == data) return path;
    // Written to a sibling and renamed over the old file, so a failure leaves the old patch whole; a
    // working copy of the device, so not flushed to disk.
    platform::Error error;
    if (!m_files.writeAtomically(path, data, &error, platform::Durability::WorkingCopy)) {
        RIG_LOG("the patch file %s could not be written: %s", path.c_str(), error.description.c_str());
        return std::nullopt;
    }
    return path;
}
