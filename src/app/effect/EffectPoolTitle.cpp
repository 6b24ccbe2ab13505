#include "app/effect/EffectPoolTitle.h"

#include "library/models/DirectoryObject.h"
#include "library/models/EffectItem.h"

namespace {

const QColor kGrey = QColor::fromRgbF(0.6f, 0.6f, 0.6f, 1.0f);
const QColor kIncompatibleGrey = QColor::fromRgbF(64 / 255.0f, 64 / 255.0f, 64 / 255.0f, 1.0f);
const QColor kNewMark = QColor::fromRgbF(227 / 255.0f, 227 / 255.0f, 0.0f, 1.0f);
const QColor kDeletedYellow = QColor::fromRgbF(1.0f, 251 / 255.0f, 59 / 255.0f, 1.0f);

bool isDeletedInDevice(const EffectItem& item, const std::vector<std::shared_ptr<EffectItem>>& effectList)
{
    for (const auto& entry : effectList)
        if (entry && entry->effectType == item.effectType) return entry->isDeleted;
    return false;
}

}  // namespace

EffectPoolTitle EffectPoolTitle::forNode(const DirectoryObject& node, const std::vector<std::shared_ptr<EffectItem>>& effectList)
{
    EffectPoolTitle title;
    title.text = QString::fromStdString(node.name.value_or(std::string()));
    const EffectItem* item = node.effectItem();
    const auto whole = [&title](const QColor& color) { title.spans = {{0, static_cast<int>(title.text.size()), color}}; };
    if (node.isIncompatible) {
        title.style = Style::Incompatible;
        title.bold = false;
        whole(kIncompatibleGrey);
    } else if (node.hasNewChild) {
        title.style = Style::HasNewChild;
        title.text = QStringLiteral("%1 - NEW").arg(title.text);
        const int length = static_cast<int>(title.text.size());
        title.spans = {{0, length - 5, kGrey}, {length - 5, 5, kNewMark}};
    } else if (node.isNew) {
        title.style = Style::New;
        whole(Qt::white);
    } else if (item == nullptr) {
        title.style = Style::Group;
        whole(kGrey);
    } else if (isDeletedInDevice(*item, effectList)) {
        title.style = Style::DeletedInDevice;
        whole(kDeletedYellow);
    } else {
        title.style = Style::Effect;
        whole(kGrey);
    }
    return title;
}
