#pragma once

#include <QColor>
#include <QString>

#include <memory>
#include <vector>

class DirectoryObject;
class EffectItem;

// The title of an effect pool row: its text, its font and the colour of each part. The rows are tested
// in a fixed order (incompatible, new below, new, group, deleted in the device, any other effect) and
// the first that applies decides. Titles wrap by characters.
struct EffectPoolTitle {
    enum class Style { Incompatible, HasNewChild, New, Group, DeletedInDevice, Effect };
    struct Span {
        int start = 0;
        int length = 0;
        QColor color;
    };

    static constexpr const char* kFontFamily = "Helvetica Neue";
    static constexpr double kFontSize = 16.0;

    QString text;
    bool bold = true;
    Style style = Style::Effect;
    std::vector<Span> spans;

    static EffectPoolTitle forNode(const DirectoryObject& node, const std::vector<std::shared_ptr<EffectItem>>& effectList);
};
