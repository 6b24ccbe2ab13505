#include "DemoFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/bundle/Bundle.h"
#include "platform/bundle/Configuration.h"

namespace fs = std::filesystem;

namespace {

fs::path base()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code error;
    if (runtime != nullptr && runtime[0] == '/' && fs::is_directory(runtime, error)) return runtime;
    const fs::path temp = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : temp;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

DemoFolder::DemoFolder()
{
    std::string pattern = (base() / "pexo-rigmora-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_error = "cannot make the demo folder " + pattern + ": " + std::strerror(errno);
        return;
    }
    m_path = pattern;
    std::error_code error;
    for (const fs::path& folder : {dataHome(), scratch()}) fs::create_directories(folder, error);
}

DemoFolder::~DemoFolder() { remove(); }

void DemoFolder::remove()
{
    std::error_code error;
    if (valid() && !m_keep) fs::remove_all(m_path, error);
}

bool DemoFolder::install(const std::string& shippedResources,
                         const std::vector<std::pair<std::string, std::string>>& overrides)
{
    std::error_code error;
    fs::copy(shippedResources, resources(), fs::copy_options::recursive, error);
    if (error) {
        m_error = "cannot copy the resources from " + shippedResources + ": " + error.message();
        return false;
    }
    std::map<std::string, std::string> table;
    if (auto shipped = platform::Bundle(resources().string()).table(platform::Configuration::kTableName))
        table = shipped->entries();
    for (const auto& [key, value] : overrides) table[key] = value;
    const fs::path file = resources() / (std::string(platform::Configuration::kTableName) + ".strings");
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << stringsText({table.begin(), table.end()});
    if (!out.flush()) {
        m_error = "cannot write " + file.string();
        return false;
    }
    ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    ::setenv("RIG_RESOURCES", resources().c_str(), 1);
    return true;
}

std::string DemoFolder::stringsText(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string text;
    for (const auto& [key, value] : entries) text += quoted(key) + " = " + quoted(value) + ";\n";
    return text;
}
