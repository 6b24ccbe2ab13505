#include "platform/files/MimeTypeTable.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace platform {
namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t colon = line.find(':', start);
        parts.push_back(line.substr(start, colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

std::vector<std::string> dataFolders()
{
    std::vector<std::string> folders;
    if (const char* home = std::getenv("XDG_DATA_HOME"); home && *home)
        folders.emplace_back(home);
    else if (const char* user = std::getenv("HOME"); user && *user)
        folders.push_back(std::string(user) + "/.local/share");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (std::string& folder : fields(list))
        if (!folder.empty())
            folders.push_back(std::move(folder));
    return folders;
}

}  // namespace

void MimeTypeTable::add(const std::string& extension, const std::string& type, int weight, bool caseSensitive)
{
    auto& table = caseSensitive ? m_exact : m_folded;
    const std::string key = caseSensitive ? extension : lowered(extension);
    auto found = table.find(key);
    if (found == table.end() || found->second.weight < weight)
        table[key] = Entry{type, weight};
}

MimeTypeTable MimeTypeTable::load(const std::vector<std::string>& globsFiles)
{
    MimeTypeTable table;
    bool readAny = false;
    for (const std::string& path : globsFiles) {
        std::ifstream file(path);
        if (!file)
            continue;
        readAny = true;
        for (std::string line; std::getline(file, line);) {
            if (line.empty() || line.front() == '#')
                continue;
            const std::vector<std::string> parts = fields(line);
            if (parts.size() < 3 || parts[2].size() < 3 || parts[2].compare(0, 2, "*.") != 0)
                continue;
            const std::string extension = parts[2].substr(2);
            if (extension.find_first_of("*?[") != std::string::npos)
                continue;
            const int weight = std::atoi(parts[0].c_str());
            const bool caseSensitive = parts.size() > 3 && parts[3].find("cs") != std::string::npos;
            table.add(extension, parts[1], weight, caseSensitive);
        }
    }
    return readAny ? table : builtIn();
}

const MimeTypeTable& MimeTypeTable::system()
{
    static const MimeTypeTable table = [] {
        std::vector<std::string> files;
        for (const std::string& folder : dataFolders())
            files.push_back(folder + "/mime/globs2");
        return load(files);
    }();
    return table;
}

MimeTypeTable MimeTypeTable::builtIn()
{
    MimeTypeTable table;
    table.m_builtIn = true;
    static const std::pair<const char*, const char*> kTypes[] = {
        {"txt", "text/plain"},        {"html", "text/html"},        {"htm", "text/html"},
        {"css", "text/css"},          {"csv", "text/csv"},          {"xml", "application/xml"},
        {"json", "application/json"}, {"js", "text/javascript"},    {"pdf", "application/pdf"},
        {"zip", "application/zip"},   {"gz", "application/gzip"},   {"png", "image/png"},
        {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
        {"tif", "image/tiff"},        {"tiff", "image/tiff"},       {"bmp", "image/bmp"},
        {"ico", "image/vnd.microsoft.icon"}, {"svg", "image/svg+xml"}, {"plist", "application/x-plist"},
        {"mp3", "audio/mpeg"},        {"wav", "audio/x-wav"},       {"mp4", "video/mp4"},
    };
    for (const auto& [extension, type] : kTypes)
        table.add(extension, type, 50, false);
    return table;
}

std::optional<std::string> MimeTypeTable::preferredTypeForExtension(const std::string& extension) const
{
    if (extension.empty())
        return std::nullopt;
    if (auto found = m_exact.find(extension); found != m_exact.end())
        return found->second.type;
    if (auto found = m_folded.find(lowered(extension)); found != m_folded.end())
        return found->second.type;
    return std::nullopt;
}

}  // namespace platform
