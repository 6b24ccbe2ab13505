#pragma once

#include <memory>

#include "device/commands/CQFXMidi.h"
#include "device/sequencer/QFXCommandLayer.h"

// The sequencer's view of the real command layer: every call goes straight through.
class CQFXMidiCommandLayer final : public QFXCommandLayer {
public:
    explicit CQFXMidiCommandLayer(std::shared_ptr<CQFXMidi> qfxMidi) : m_qfxMidi(std::move(qfxMidi)) {}

    // Makes a command layer over the transport for every scan.
    static QFXCommandLayerFactory factory(CMidiDevice& device);

    void setDelegate(CQFXMidiDelegate* delegate) override { m_qfxMidi->setDelegate(delegate); }
    void setAcceptDevice(std::vector<AcceptedDeviceModel> models, std::int32_t timeOfRetry) override
    {
        m_qfxMidi->setAcceptDevice(std::move(models), timeOfRetry);
    }
    void connection() override { m_qfxMidi->connection(); }
    void eject() override { m_qfxMidi->eject(); }
    void forceEject() override { m_qfxMidi->forceEject(); }
    bool checkCurrentConnect() override { return m_qfxMidi->checkCurrentConnect(); }
    bool rescanMidiDevice() override { return m_qfxMidi->rescanMidiDevice(); }
    void restartScan() override { m_qfxMidi->restartScan(); }
    bool connectNewDevicePlugin() override { return m_qfxMidi->connectNewDevicePlugin(); }
    void disconnectCurrentDevice() override { m_qfxMidi->disconnectCurrentDevice(); }
    void clearWaitingBlock() override { m_qfxMidi->clearWaitingBlock(); }
    void afterPatchFilesStored(std::function<void()> task) override
    {
        m_qfxMidi->afterPatchFilesStored(std::move(task));
    }
    std::optional<std::string> getDeviceName() override { return m_qfxMidi->getDeviceName(); }
    std::optional<std::uint64_t> messagesHeard() const override { return m_qfxMidi->messagesHeard(); }
    bool awaitsUnit() const override { return m_qfxMidi->awaitsUnit(); }
    std::int32_t getCQFXDeviceIDInt() const override { return m_qfxMidi->getCQFXDeviceIDInt(); }
    std::optional<std::array<std::uint8_t, 4>> getDeviceVersion() const override
    {
        return m_qfxMidi->getDeviceVersion();
    }

    void dumpAllPatchWithNumberOfGroups(std::int32_t groups, std::int32_t banks, std::int32_t patchs) override
    {
        m_qfxMidi->dumpAllPatchWithNumberOfGroups(groups, banks, patchs);
    }
    void writeOnePatchWithGroupNumber(std::int32_t group, std::int32_t bank, std::int32_t patch, std::int64_t maxSize,
                                      const std::uint8_t* byteData, std::int64_t sizeData) override
    {
        m_qfxMidi->writeOnePatchWithGroupNumber(group, bank, patch, maxSize, byteData, sizeData);
    }
    void writeGroupPatchWithPatchArray(const std::vector<PatchObject>& patchArray, std::int64_t maxSize) override
    {
        m_qfxMidi->writeGroupPatchWithPatchArray(patchArray, maxSize);
    }
    void writeAllPatchWithAllPatch(const AllPatch& allPatch, std::int64_t maxSize) override
    {
        m_qfxMidi->writeAllPatchWithAllPatch(allPatch, maxSize);
    }
    void selectPatchWithData(const std::uint8_t* data, std::int64_t size, std::int64_t maxPatchSize) override
    {
        m_qfxMidi->selectPatchWithData(data, size, maxPatchSize);
    }
    void checkMemory() override { m_qfxMidi->checkMemory(); }
    void readFFSFileListWithFilePath(const std::string& fileName) override
    {
        m_qfxMidi->readFFSFileListWithFilePath(fileName);
    }
    void writeFileListWithFilePath(const std::string& fileName, const std::uint8_t* byteData, std::int64_t fileSize,
                                   std::int32_t state) override
    {
        m_qfxMidi->writeFileListWithFilePath(fileName, byteData, fileSize, state);
    }
    void fileListFlush() override { m_qfxMidi->fileListFlush(); }
    void deleteQFXWithFileName(const std::string& fileName) override { m_qfxMidi->deleteQFXWithFileName(fileName); }
    void getFileSizeWithFileName(const std::string& fileName) override { m_qfxMidi->getFileSizeWithFileName(fileName); }

private:
    std::shared_ptr<CQFXMidi> m_qfxMidi;
};
