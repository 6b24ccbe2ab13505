#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// The demo's own folder, made fresh for each run under $XDG_RUNTIME_DIR (else the temporary folder) and
// removed at the end unless kept: the data folder the program uses instead of the user's, a copy of the
// program's resources whose "Configuration" points at the local catalogue, and scratch space.
// install() points the process at them, so nothing the program does reaches the user's library.
class DemoFolder {
public:
    DemoFolder();
    ~DemoFolder();
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;

    // False when the folder could not be made; error() says why.
    bool valid() const { return !m_path.empty(); }
    const std::string& error() const { return m_error; }
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path dataHome() const { return m_path / "data"; }
    std::filesystem::path resources() const { return m_path / "resources"; }
    std::filesystem::path scratch() const { return m_path / "scratch"; }
    void keep() { m_keep = true; }
    // Removes the folder now, unless it is to be kept (the end does it otherwise).
    void remove();

    // Copies `shippedResources` and writes its "Configuration" table with `overrides` replacing the
    // shipped values, then sets XDG_DATA_HOME and RIG_RESOURCES to the demo's folders.
    bool install(const std::string& shippedResources, const std::vector<std::pair<std::string, std::string>>& overrides);

    // The strings-table text of `entries`, quotes and backslashes escaped.
    static std::string stringsText(const std::vector<std::pair<std::string, std::string>>& entries);

private:
    std::filesystem::path m_path;
    std::string m_error;
    bool m_keep = false;
};
