#include "app/main/BusyLineBreaks.h"

#include <QStringList>

#include <vector>

namespace {

constexpr QChar kIdeographicFullStop(0x3002);

// The line's parts with what joins each to the one before it: two spaces between the works, one after a
// sentence's full stop or ellipsis, none after an ideographic full stop unless the line puts one there.
struct Part {
    QString joint;
    QString text;
};

std::vector<Part> partsOf(const QString& text)
{
    std::vector<Part> parts;
    QString joint;
    QString current;
    const auto close = [&] {
        if (!current.isEmpty()) parts.push_back({joint, current});
        current.clear();
        joint.clear();
    };
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        // A space after an ideographic full stop joins too (the part before it is closed already): no
        // line starts with it.
        const QChar before = at > 0 ? text.at(at - 1) : QChar();
        if (c == u' ' && (text.mid(at, 2) == QStringLiteral("  ") || before == u'.' || before == QChar(0x2026) ||
                          before == kIdeographicFullStop)) {
            if (!current.isEmpty()) close();
            while (at < text.size() && text.at(at) == u' ') joint += text.at(at++);
            --at;
            continue;
        }
        current += c;
        if (c == kIdeographicFullStop) close();
    }
    close();
    return parts;
}

// A part too long for its line, broken at its own spaces.
QStringList wordsLaid(const QString& part, int width, const std::function<int(const QString&)>& widthOf)
{
    QStringList lines;
    QString line;
    for (const QString& word : part.split(u' ')) {
        const QString longer = line.isEmpty() ? word : line + u' ' + word;
        if (!line.isEmpty() && widthOf(longer) > width) {
            lines << line;
            line = word;
        } else {
            line = longer;
        }
    }
    lines << line;
    return lines;
}

}  // namespace

QString BusyLineBreaks::lay(const QString& text, int width, const std::function<int(const QString&)>& widthOf)
{
    if (text.isEmpty() || widthOf(text) <= width) return text;
    QStringList lines;
    QString line;
    for (const Part& part : partsOf(text)) {
        const QString longer = line + part.joint + part.text;
        if (line.isEmpty() || widthOf(longer) <= width) {
            line = line.isEmpty() ? part.text : longer;
            continue;
        }
        lines << line;
        line = part.text;
    }
    lines << line;
    QStringList laid;
    for (const QString& each : lines) laid << (widthOf(each) <= width ? QStringList{each} : wordsLaid(each, width, widthOf));
    return laid.join(u'\n');
}
