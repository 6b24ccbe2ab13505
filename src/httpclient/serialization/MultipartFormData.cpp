#include "httpclient/serialization/MultipartFormData.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "platform/files/MimeTypeTable.h"

std::string CreateMultipartFormBoundary(const std::function<std::uint32_t()>& random)
{
    char text[32];
    const std::uint32_t first = random();
    const std::uint32_t second = random();
    std::snprintf(text, sizeof text, "Boundary+%08X%08X", first, second);
    return text;
}

std::string MultipartFormInitialBoundary(const std::string& boundary)
{
    return "--" + boundary + kMultipartFormCRLF;
}

std::string MultipartFormEncapsulationBoundary(const std::string& boundary)
{
    return kMultipartFormCRLF + ("--" + boundary) + kMultipartFormCRLF;
}

std::string MultipartFormFinalBoundary(const std::string& boundary)
{
    return kMultipartFormCRLF + ("--" + boundary) + "--" + kMultipartFormCRLF;
}

bool IsSendablePartName(const std::string& name)
{
    return name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

std::string QuotedPartName(const std::string& name)
{
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"') quoted += "%22";
        else quoted += c;
    }
    return quoted + "\"";
}

std::string ContentTypeForPathExtension(const std::string& extension)
{
    return platform::MimeTypeTable::system().preferredTypeForExtension(extension).value_or("application/octet-stream");
}

std::optional<std::string> FilePathFromFileURL(const std::string& fileURL)
{
    if (fileURL.size() < 5 || (fileURL.compare(0, 5, "file:") != 0 && fileURL.compare(0, 5, "FILE:") != 0))
        return std::nullopt;
    std::string rest = fileURL.substr(5);
    if (rest.compare(0, 2, "//") == 0) {
        rest = rest.substr(2);
        const std::size_t slash = rest.find('/');
        const std::string host = rest.substr(0, slash);
        if (!host.empty() && host != "localhost") return std::nullopt;
        rest = slash == std::string::npos ? "/" : rest.substr(slash);
    }
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}
