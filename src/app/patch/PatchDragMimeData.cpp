#include "app/patch/PatchDragMimeData.h"

#include <QDataStream>
#include <QDir>
#include <QUrl>
#include <QWidget>

#include "app/patch/DroppedPaths.h"
#include "library/models/PatchItem.h"

PatchDragMimeData::PatchDragMimeData(const char* type, QWidget* source, Promise promise, StagingFolder stagingFolder)
    : type_(type), source_(source), promise_(std::move(promise)), stagingFolder_(std::move(stagingFolder))
{
}

std::vector<std::int64_t> PatchDragMimeData::namesOfPromisedFilesDroppedAtDestination(const std::string& destination) const
{
    return promise_ ? promise_(destination) : std::vector<std::int64_t>{};
}

QStringList PatchDragMimeData::formats() const
{
    return {QString::fromLatin1(type_), QString::fromLatin1(kUriListType)};
}

bool PatchDragMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

QVariant PatchDragMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType != QLatin1String(kUriListType)) return mimeType == QLatin1String(type_) ? QVariant(QByteArray()) : QVariant();
    // Another program asks for the files: they are written once, however often it asks.
    if (!staged_) {
        staged_ = true;
        const std::string folder = stagingFolder_ ? stagingFolder_() : std::string();
        if (!folder.empty()) {
            ++stagingCount_;
            namesOfPromisedFilesDroppedAtDestination(folder);
            const QDir dir(QString::fromStdString(folder));
            for (const QString& entry : dir.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
                stagedUrls_.push_back(QUrl::fromLocalFile(dir.filePath(entry)));
        }
    }
    if (type.id() == QMetaType::QVariantList) {
        QVariantList list;
        for (const QUrl& url : stagedUrls_) list.push_back(url);
        return list;
    }
    QByteArray bytes;
    for (const QUrl& url : stagedUrls_) bytes += url.toEncoded() + "\r\n";
    return bytes;
}

const PatchDragMimeData* PatchDragMimeData::ours(const QMimeData* data, const QObject* eventSource)
{
    const auto* drag = qobject_cast<const PatchDragMimeData*>(data);
    if (!drag || !drag->source_) return nullptr;
    // A drag that the platform knows the source of must come from the view the data names.
    if (eventSource && eventSource != drag->source_) return nullptr;
    return drag;
}

std::vector<std::string> PatchDragMimeData::localFiles(const QMimeData* data)
{
    std::vector<std::string> paths;
    if (!data || qobject_cast<const PatchDragMimeData*>(data)) return paths;
    for (const char* type : {kListRowsType, kPoolItemsType, kPatchItemsType})
        if (data->hasFormat(QString::fromLatin1(type))) return paths;
    if (!data->hasUrls()) return paths;
    // From the list's bytes, not through text: a file name need not be UTF-8, and a NUL or a relative path
    // must reach the checks as sent.
    const QByteArray list = data->data(QString::fromLatin1(kUriListType));
    return DroppedPaths::localPathsOfUriList(std::string_view(list.constData(), static_cast<std::size_t>(list.size())));
}

QByteArray PatchDragMimeData::encodePatchItems(const std::vector<std::shared_ptr<PatchItem>>& items)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (const auto& item : items) {
        if (!item) continue;
        const auto form = item->pasteboardPropertyListForType(PatchItem::writableTypesForPasteboard().front());
        if (!form) continue;
        stream << QByteArray(reinterpret_cast<const char*>(form->data()), static_cast<qsizetype>(form->size()));
    }
    return bytes;
}

std::vector<std::shared_ptr<PatchItem>> PatchDragMimeData::decodePatchItems(const QByteArray& bytes)
{
    std::vector<std::shared_ptr<PatchItem>> items;
    QDataStream stream(bytes);
    while (!stream.atEnd()) {
        QByteArray form;
        stream >> form;
        if (stream.status() != QDataStream::Ok) break;
        const Bytes propertyList(form.begin(), form.end());
        if (auto item = PatchItem::initWithPasteboardPropertyList(propertyList, PatchItem::readableTypesForPasteboard().front()))
            items.push_back(std::move(item));
    }
    return items;
}
