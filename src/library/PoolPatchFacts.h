#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/formats/OKVPatch.h"
#include "platform/files/FileManager.h"

// What the pool's marks and warnings are judged from in a patch file (its generation, its regions, its
// effect units), kept from the read that made the file's node together with the file's stamp. A later
// judgement of a file still as it was read takes them from here rather than reading the file again; any
// rewrite of the file gives it another stamp, and it is read anew. Used from the pool's queue only.
class PoolPatchFacts {
public:
    struct Facts {
        platform::FileStamp stamp;
        std::uint32_t gen = 0;
        std::uint64_t supportRegion = 0;
        std::vector<std::uint32_t> effectTypes;
    };
    static Facts factsOf(const platform::FileStamp& stamp, const OKVPatch& patch);
    // A patch holding what the pool judges of `facts` (nothing else: no name, no comments, no parameters).
    static OKVPatch patchOf(const Facts& facts);
    void remember(const std::string& path, Facts facts) { m_facts[path] = std::move(facts); }
    // Keeps what `patch` read from the file at `path` holds, as of `stamp`.
    void remember(const std::string& path, const platform::FileStamp& stamp, const OKVPatch& patch);
    // A patch holding what the pool judges (nothing else: no name, no comments, no parameters), when the
    // file at `path` is still the one stamped.
    std::optional<OKVPatch> find(const std::string& path, const std::optional<platform::FileStamp>& stamp) const;
    std::size_t size() const { return m_facts.size(); }
    void reserve(std::size_t count) { m_facts.reserve(count); }

private:
    std::unordered_map<std::string, Facts> m_facts;
};
