#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The MIME type that a file name extension stands for. On a desktop that has the shared MIME database its
// globs files are read; elsewhere a short built-in table of the common types serves.
class MimeTypeTable {
public:
    // Reads the "weight:type:glob[:flags]" files given, taking only plain "*.ext" globs; the heaviest glob
    // of an extension wins, and an earlier file or line wins a tie. With no readable file, the built-in table.
    static MimeTypeTable load(const std::vector<std::string>& globsFiles);
    // The globs files of $XDG_DATA_HOME and $XDG_DATA_DIRS (default /usr/local/share and /usr/share), read once.
    static const MimeTypeTable& system();
    static MimeTypeTable builtIn();

    // Extensions compare without case unless the database marks the glob case-sensitive.
    std::optional<std::string> preferredTypeForExtension(const std::string& extension) const;
    bool isBuiltIn() const { return m_builtIn; }

private:
    struct Entry {
        std::string type;
        int weight = 0;
    };
    void add(const std::string& extension, const std::string& type, int weight, bool caseSensitive);

    std::map<std::string, Entry> m_folded;
    std::map<std::string, Entry> m_exact;
    bool m_builtIn = false;
};

}  // namespace platform
