// The licence view names every library the program links, and each one with its notice: the list is
// compared with the shared libraries the built program itself asks the loader for.
#include <elf.h>
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <fstream>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/views/LicenseView.h"
#include "platform/bundle/Bundle.h"

namespace {

// The libraries an ELF executable names in its dynamic section (DT_NEEDED).
std::vector<std::string> neededLibraries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string file(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())), '\0');
    in.seekg(0);
    in.read(file.data(), static_cast<std::streamsize>(file.size()));
    auto at = [&file](std::uint64_t offset, std::uint64_t size) {
        return offset <= file.size() && size <= file.size() - offset ? file.data() + offset : nullptr;
    };
    const auto* header = reinterpret_cast<const Elf64_Ehdr*>(at(0, sizeof(Elf64_Ehdr)));
    if (!header || std::string(reinterpret_cast<const char*>(header->e_ident), 4) != ELFMAG ||
        header->e_ident[EI_CLASS] != ELFCLASS64)
        return {};
    const auto* sections = reinterpret_cast<const Elf64_Shdr*>(at(header->e_shoff, std::uint64_t{header->e_shnum} * sizeof(Elf64_Shdr)));
    if (!sections) return {};
    std::vector<std::string> names;
    for (unsigned i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNAMIC || sections[i].sh_link >= header->e_shnum) continue;
        const Elf64_Shdr& strings = sections[sections[i].sh_link];
        const char* table = at(strings.sh_offset, strings.sh_size);
        const auto* entries = reinterpret_cast<const Elf64_Dyn*>(at(sections[i].sh_offset, sections[i].sh_size));
        if (!table || !entries) continue;
        for (std::size_t e = 0; e < sections[i].sh_size / sizeof(Elf64_Dyn) && entries[e].d_tag != DT_NULL; ++e)
            if (entries[e].d_tag == DT_NEEDED && entries[e].d_un.d_val < strings.sh_size)
                names.emplace_back(table + entries[e].d_un.d_val);
    }
    return names;
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The C and C++ runtimes, and a sanitizer's, come with the system and its compiler, not with the program.
bool isSystemRuntime(const std::string& soname)
{
    for (const char* runtime : {"libc.so", "libm.so", "libstdc++.so", "libgcc_s.so", "ld-linux", "libpthread.so", "libdl.so",
                                "librt.so", "libatomic.so", "libasan.so", "libubsan.so", "libtsan.so", "liblsan.so"})
        if (startsWith(soname, runtime)) return true;
    return false;
}

// The entry of the licence list that stands for a linked library, or "" for one it does not know.
std::string entryFor(const std::string& soname)
{
    static const std::vector<std::pair<std::string, std::string>> kEntries = {
        {"libQt6", "Qt 6 (Widgets, GUI, Core)"}, {"libcurl.so", "libcurl"},       {"libssl.so", "OpenSSL"},
        {"libcrypto.so", "OpenSSL"},               {"libminizip.so", "minizip, zlib"}, {"libz.so", "minizip, zlib"},
        {"libplist", "libplist"},                  {"libasound.so", "ALSA library"}, {"libpng", "libpng"},
        {"libjpeg.so", "libjpeg (libjpeg-turbo)"}, {"libgif.so", "giflib"},         {"libtiff.so", "libtiff"},
        {"libicu", "ICU"},                         {"libsystemd.so", "libsystemd"},  {"libxml2.so", "libxml2"},
    };
    for (const auto& [prefix, entry] : kEntries)
        if (startsWith(soname, prefix)) return entry;
    return {};
}

// The names the licence list shows: the indented lines after its heading, up to the first blank line.
std::set<std::string> listedLibraries(const QString& text)
{
    std::set<std::string> names;
    const QStringList lines = text.split(QLatin1Char('\n'));
    const auto heading = std::find_if(lines.begin(), lines.end(), [](const QString& line) { return line.startsWith("Libraries this program uses"); });
    if (lines.end() - heading < 2) return names;
    for (auto line = heading + 2; line != lines.end() && !line->trimmed().isEmpty(); ++line) {
        const QString entry = line->trimmed();
        const qsizetype gap = entry.indexOf(QStringLiteral("  "));
        names.insert((gap < 0 ? entry : entry.left(gap)).toStdString());
    }
    return names;
}

}  // namespace

TEST(LicenceList, NamesEveryLibraryTheProgramLinksEachWithItsNotice)
{
    const auto resources = platform::Bundle::locateResources();
    ASSERT_TRUE(resources);
    const auto text = LicenseView::readLicenseText(*resources + "/" + LicenseView::kLicenseFileName);
    ASSERT_TRUE(text);
    const std::set<std::string> listed = listedLibraries(*text);
    ASSERT_FALSE(listed.empty());
    const std::vector<std::string> needed = neededLibraries(RIG_PROGRAM_FILE);
    ASSERT_FALSE(needed.empty()) << "cannot read the libraries " << RIG_PROGRAM_FILE << " links";
    std::set<std::string> linked;
    for (const std::string& soname : needed) {
        if (isSystemRuntime(soname)) continue;
        const std::string entry = entryFor(soname);
        EXPECT_FALSE(entry.empty()) << "the program links " << soname << ", which the licence list knows nothing of";
        if (entry.empty()) continue;
        linked.insert(entry);
        EXPECT_TRUE(listed.contains(entry)) << "the program links " << soname << " but the licence view does not name " << entry;
    }
    // Nothing is named that is not linked, but what is compiled into the program from headers.
    const std::set<std::string> compiledIn{"nlohmann/json"};
    for (const std::string& name : listed)
        EXPECT_TRUE(linked.contains(name) || compiledIn.contains(name)) << name << " is named but not linked";
    // Each named library's notice follows under its own heading.
    const QString rule(79, QLatin1Char('-'));
    for (const std::string& name : listed)
        EXPECT_TRUE(text->contains(rule + "\n" + QString::fromStdString(name) + "\n" + rule + "\n\n")) << "no notice for " << name;
}
