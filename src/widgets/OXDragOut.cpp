#include "widgets/OXDragOut.h"

#include <QDir>
#include <QDrag>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace rp::widgets {

std::optional<std::filesystem::path> freshDragOutFolder()
{
    static std::unique_ptr<QTemporaryDir> root;
    if (!root) {
        root = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/rattlepan-drag-XXXXXX"));
    }
    if (!root->isValid()) {
        return std::nullopt;
    }
    static unsigned next = 0;
    const QString folder = root->filePath(QString::number(++next));
    if (!QDir().mkpath(folder)) {
        return std::nullopt;
    }
    return std::filesystem::path(folder.toStdString());
}

void runFileDrag(QWidget* source, const std::filesystem::path& file, const QPixmap& image, QPoint offset)
{
    auto* mime = new QMimeData;
    mime->setUrls({ QUrl::fromLocalFile(QString::fromStdString(file.string())) });
    auto* drag = new QDrag(source);
    drag->setMimeData(mime);
    if (!image.isNull()) {
        drag->setPixmap(image);
        drag->setHotSpot(offset);
    }
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

} // namespace rp::widgets
