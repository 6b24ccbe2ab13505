#include "app/effect/EffectItemDrag.h"

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <QMimeData>

#include "library/models/EffectItem.h"

namespace {

// More would never fit the device; a longer list is not ours.
constexpr qsizetype kMaxItems = 1024;

}  // namespace

std::unique_ptr<QMimeData> EffectItemDrag::mimeDataForItems(const std::vector<std::shared_ptr<EffectItem>>& items)
{
    QList<QByteArray> archives;
    for (const auto& item : items) {
        if (!item) continue;
        const auto archive = item->pasteboardPropertyListForType(kMimeType);
        if (!archive || archive->empty()) continue;
        archives.append(QByteArray(reinterpret_cast<const char*>(archive->data()), static_cast<qsizetype>(archive->size())));
    }
    if (archives.isEmpty()) return nullptr;
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << archives;
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(kMimeType), payload);
    return data;
}

std::vector<std::shared_ptr<EffectItem>> EffectItemDrag::itemsFromMimeData(const QMimeData& data)
{
    std::vector<std::shared_ptr<EffectItem>> items;
    if (!data.hasFormat(QString::fromLatin1(kMimeType))) return items;
    QDataStream in(data.data(QString::fromLatin1(kMimeType)));
    in.setVersion(QDataStream::Qt_6_0);
    qint32 count = 0;
    in >> count;
    if (in.status() != QDataStream::Ok || count < 0 || count > kMaxItems) return items;
    for (qint32 i = 0; i < count; ++i) {
        QByteArray archive;
        in >> archive;
        if (in.status() != QDataStream::Ok) break;
        const Bytes bytes(archive.begin(), archive.end());
        if (auto item = EffectItem::initWithPasteboardPropertyList(bytes, kMimeType)) items.push_back(std::move(item));
    }
    return items;
}
