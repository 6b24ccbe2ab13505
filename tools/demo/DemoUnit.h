#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/formats/OKVPatch.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/device/DeviceUnit.h"

namespace platform {
class Dispatch;
}

// The virtual MIDI backend with one simulated unit on it, filled like a unit in use: a hundred patches
// with names and comments, all but one of its model's effects in its effect list with the first few
// loaded, a share of its memory taken by their module files. The unit lives exactly as long as the
// backend, and goes first.
class DemoUnit {
public:
    // The effects of the unit's model its effect list holds, and how many of those are loaded; the
    // model's last effect is not in the list, so it can be added.
    static constexpr int kListedEffects = 5;
    static constexpr int kLoadedEffects = 4;

    explicit DemoUnit(platform::Dispatch& dispatch);
    ~DemoUnit();
    DemoUnit(const DemoUnit&) = delete;
    DemoUnit& operator=(const DemoUnit&) = delete;

    // The backend, keeping the whole unit alive.
    static std::shared_ptr<platform::MidiSystem> system(const std::shared_ptr<DemoUnit>& unit);

    sim::DeviceUnit& unit() { return m_unit; }
    std::int32_t patchCount() const;
    // Whether the host has asked for as many patch dumps as the unit has patches.
    bool patchesRead();
    // How many patch dumps the host has asked for so far (a full read asks for each patch once).
    std::size_t patchRequests();
    // Told as the unit goes: whether the host ever greeted it, and whether it then ended the editing
    // mode as a program that lets its unit go does.
    void setEndReport(std::function<void(bool connected, bool letGo)> report) { m_endReport = std::move(report); }
    // Told as the unit goes, before the report, with the unit still whole: what it holds at the end.
    void setBeforeEnd(std::function<void(DemoUnit&)> look) { m_beforeEnd = std::move(look); }
    // The name of the patch the unit holds in `slot` (counted from 0); none for an unreadable slot.
    std::optional<std::string> patchNameAt(std::int32_t slot);
    // Its comment in the interface language `language` as stored: the Japanese one decoded for "ja"
    // (none when it does not decode), else the other one with its trailing padding dropped; none for an
    // unreadable slot.
    std::optional<std::string> patchCommentAt(std::int32_t slot, const std::string& language = "en");
    // Whether the unit's effect list holds the effect of this type, and whether it is loaded; none when
    // not listed.
    std::optional<bool> isEffectLoaded(std::uint32_t type);
    // Whether the unit's effect list marks the effect of this type as a favourite; none when not listed.
    std::optional<bool> isEffectFavourite(std::uint32_t type);
    // The version the unit's effect list gives the effect of this type; none when not listed.
    std::optional<std::string> effectVersion(std::uint32_t type);
    // An edit made on the unit itself: the slot gets a new name and comments and the unit sends it.
    void editOnUnit(std::int32_t slot, const std::string& name, const std::string& comment,
                    const std::string& japaneseComment = {});
    // The effect list and module files the unit starts with (their versions older than the catalogue's).
    void loadEffects();

private:
    std::optional<OKVPatch> patchAt(std::int32_t slot);
    void fillPatches();

    platform::VirtualMidiSystem m_system;
    sim::DeviceUnit m_unit;
    std::function<void(bool, bool)> m_endReport;
    std::function<void(DemoUnit&)> m_beforeEnd;
};
