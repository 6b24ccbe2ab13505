#include "app/shell/StartRefusal.h"

#include <QMessageBox>

std::string StartRefusal::pathInLines(const std::string& path, std::size_t longest)
{
    if (longest == 0) return path;
    std::string lines;
    lines.reserve(path.size() + path.size() / longest + 1);
    std::size_t lineStart = 0;    // where the current line begins in `lines`
    std::size_t lineLength = 0;   // its characters
    std::size_t afterSlash = std::string::npos;  // where its last "/" ends in `lines`
    std::size_t sinceSlash = 0;   // the characters after that "/"
    for (std::size_t at = 0; at < path.size();) {
        std::size_t end = at + 1;
        while (end < path.size() && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80) ++end;
        if (lineLength == longest) {
            // Not after a "/" that opens the line: that would leave it alone on its line.
            if (afterSlash != std::string::npos && afterSlash > lineStart + 1 && afterSlash < lines.size()) {
                lines.insert(afterSlash, 1, '\n');
                lineStart = afterSlash + 1;
                lineLength = sinceSlash;
            } else {
                lines += '\n';
                lineStart = lines.size();
                lineLength = 0;
            }
            afterSlash = std::string::npos;
            sinceSlash = 0;
        }
        lines.append(path, at, end - at);
        ++lineLength;
        ++sinceSlash;
        if (path[at] == '/') {
            afterSlash = lines.size();
            sinceSlash = 0;
        }
        at = end;
    }
    return lines;
}

std::unique_ptr<QMessageBox> StartRefusal::box(const std::string& text)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("PEXO Rigmora"),
                                             QString::fromStdString(text), QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    return box;
}
