#pragma once

#include <QMimeData>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class PatchItem;
class QWidget;

// What a drag from the device list or the pool carries. Inside the program it is known by a private type
// of ours and by its source view; another program that asks for text/uri-list gets the dragged patches
// written into a fresh staging folder once per drag, as the URLs of that folder's top-level entries.
class PatchDragMimeData final : public QMimeData {
    Q_OBJECT
public:
    // Rows of the device list.
    static constexpr const char* kListRowsType = "application/x-pexo-rigmora-patch-list-rows";
    // Items of the patch pool.
    static constexpr const char* kPoolItemsType = "application/x-pexo-rigmora-patch-pool-items";
    // Archived patch items, each in its pasteboard form, one after another with a 32-bit length.
    static constexpr const char* kPatchItemsType = "application/x-pexo-rigmora-patch-items";
    static constexpr const char* kUriListType = "text/uri-list";

    // Answers a destination ("rightPanel", "patchListPanel" or a folder) as the drag's source does.
    using Promise = std::function<std::vector<std::int64_t>(const std::string& destination)>;
    // A fresh, empty staging folder; "" when none could be made.
    using StagingFolder = std::function<std::string()>;

    PatchDragMimeData(const char* type, QWidget* source, Promise promise, StagingFolder stagingFolder);

    const char* dragType() const { return type_; }
    QWidget* sourceView() const { return source_; }
    std::vector<std::int64_t> namesOfPromisedFilesDroppedAtDestination(const std::string& destination) const;
    // How many times the patches were written for another program (at most once).
    int stagingCount() const { return stagingCount_; }

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

    // The drag data of our own views, or none for anything else (another program's drag, or a drag whose
    // source is not one of `ours`).
    static const PatchDragMimeData* ours(const QMimeData* data, const QObject* eventSource);
    // Local files of a drag from another program, as the bytes their URLs name; nothing for a drag that
    // carries one of our types.
    static std::vector<std::string> localFiles(const QMimeData* data);
    static QByteArray encodePatchItems(const std::vector<std::shared_ptr<PatchItem>>& items);
    static std::vector<std::shared_ptr<PatchItem>> decodePatchItems(const QByteArray& bytes);

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const char* type_;
    QPointer<QWidget> source_;
    Promise promise_;
    StagingFolder stagingFolder_;
    mutable bool staged_ = false;
    mutable int stagingCount_ = 0;
    mutable QList<QUrl> stagedUrls_;
};
