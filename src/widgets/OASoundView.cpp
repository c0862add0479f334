#include "widgets/OASoundView.h"

#include "foundation/Localization.h"
#include "kit/ORPUserDefaults.h"
#include "widgets/OXDragOut.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QApplication>
#include <cmath>

namespace rp::widgets {

namespace {

constexpr int kInset = 8;

std::vector<std::filesystem::path> localFiles(const QMimeData* data)
{
    std::vector<std::filesystem::path> files;
    if (!data || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            files.emplace_back(url.toLocalFile().toStdString());
        }
    }
    return files;
}

bool isFolder(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

} // namespace

OASoundView::OASoundView(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setMinimumSize(200, 80);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void OASoundView::refresh()
{
    model_.setViewSize(width(), height());
    update();
}

void OASoundView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    model_.setViewSize(width(), height());
}

void OASoundView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect well = rect().adjusted(1, 1, -2, -2);
    painter.fillRect(well, QColor(252, 252, 252));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(well);
    if (!model_.sound()) {
        return;
    }
    const auto& picture = model_.picture();
    const int height = picture.height;
    // The channels are added to each other on a clear picture (overlaps brighten), and the picture
    // then goes over the well: added straight onto the white well, every colour would be white.
    if (picture.width > 0 && picture.height > 0) {
        QImage layer(picture.width, picture.height, QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        QPainter bars(&layer);
        bars.setCompositionMode(QPainter::CompositionMode_Plus);
        QColor fill = highlighted_ ? palette().color(QPalette::Highlight) : QColor::fromRgbF(0.05f, 0.05f, 0.7f);
        fill.setAlphaF(picture.alpha);
        for (const auto& channel : picture.channels) {
            for (const auto& bar : channel) {
                if (bar.height <= 0.0f)
                    continue;
                // The picture's y grows upwards from its bottom edge. Each column covers every pixel
                // its span touches, so a quiet tail stays a continuous line instead of breaking up
                // where a span under a pixel high happens to round away.
                const int top = static_cast<int>(std::floor(static_cast<float>(height) - (bar.y + bar.height)));
                const int bottom = static_cast<int>(std::ceil(static_cast<float>(height) - bar.y));
                bars.fillRect(QRect(static_cast<int>(bar.x), top, 1, std::max(bottom - top, 1)), fill);
            }
        }
        bars.end();
        painter.drawImage(QPoint(kInset, kInset), layer);
    }
    QFont font = painter.font();
    font.setPointSizeF(9);
    painter.setFont(font);
    painter.setPen(picture.empty ? QColor(Qt::red) : QColor(Qt::black));
    painter.drawText(QPointF(kInset + 2, kInset + height + 2 - 4), QString::fromStdString(picture.description));
    painter.drawText(QPointF(kInset + 2, kInset + 10), QString::fromStdString(picture.name));
}

void OASoundView::mouseDoubleClickEvent(QMouseEvent*)
{
    model_.play();
}

void OASoundView::mousePressEvent(QMouseEvent* event)
{
    pressPoint_.reset();
    if (event->button() == Qt::LeftButton) {
        pressPoint_ = event->position().toPoint();
    }
    QWidget::mousePressEvent(event);
}

void OASoundView::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressPoint_ || !(event->buttons() & Qt::LeftButton) || !model_.canDragOut()
        || (event->position().toPoint() - *pressPoint_).manhattanLength() < QApplication::startDragDistance()) {
        return;
    }
    pressPoint_.reset();
    const auto folder = freshDragOutFolder();
    const auto file = folder ? model_.writeForDragOut(*folder) : std::nullopt;
    if (!file) {
        return;
    }
    // The picture of the well, its origin 16 points left of and below the mouse.
    const QPixmap image = grab().scaled(width() / 2, height() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    runFileDrag(this, *file, image, QPoint(16, -16 + image.height()));
}

void OASoundView::openFromFile()
{
    if (!model_.isEditable()) {
        return;
    }
    QFileDialog dialog(window(), QString::fromStdString(localized("Choose a Sound")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(localized("Choose")));
    dialog.setProperty("probeKind", "openPanel");
    if (const auto folder = ORPUserDefaults::exportDirectoryURL()) {
        dialog.setDirectory(QString::fromStdString(folder->string()));
    }
    QStringList patterns;
    if (const auto types = OASound::unfilteredFileTypes()) {
        for (const auto& type : *types) {
            patterns << QStringLiteral("*.") + QString::fromStdString(type);
        }
    }
    if (!patterns.isEmpty()) {
        dialog.setNameFilters({ QString::fromStdString(localized("Sound Files")) + QStringLiteral(" (")
                + patterns.join(QLatin1Char(' ')) + QStringLiteral(")"),
            QString::fromStdString(localized("All Files")) + QStringLiteral(" (*)") });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const std::filesystem::path chosen = dialog.selectedFiles().front().toStdString();
    if (model_.takeSoundFromFile(chosen)) {
        ORPUserDefaults::setExportDirectoryURL(chosen.parent_path());
    }
    refresh();
}

void OASoundView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    for (const auto& item : model_.menu()) {
        if (item.separator) {
            menu.addSeparator();
            continue;
        }
        if (item.action == "saveToFile:" && !saveHandler_) {
            continue;
        }
        QAction* action = menu.addAction(QString::fromStdString(item.title));
        action->setProperty("actionName", QString::fromStdString(item.action));
        if (item.action == "play:") {
            connect(action, &QAction::triggered, this, [this] { model_.play(); });
        } else if (item.action == "openFromFile:") {
            connect(action, &QAction::triggered, this, [this] { openFromFile(); }, Qt::QueuedConnection);
        } else if (item.action == "saveToFile:") {
            connect(action, &QAction::triggered, this, [this] { saveHandler_(); }, Qt::QueuedConnection);
        }
    }
    if (!menu.isEmpty()) {
        menu.exec(event->globalPos());
    }
}

bool OASoundView::acceptsDrag(const QMimeData* mime) const
{
    const auto files = localFiles(mime);
    if (files.size() == 1 && isFolder(files.front())) {
        return model_.isEditable() && folderHandler_ != nullptr;
    }
    return model_.acceptsDrop(files, false);
}

void OASoundView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == this || !acceptsDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    highlighted_ = true;
    update();
}

void OASoundView::dragLeaveEvent(QDragLeaveEvent*)
{
    highlighted_ = false;
    update();
}

void OASoundView::dropEvent(QDropEvent* event)
{
    highlighted_ = false;
    update();
    const auto files = localFiles(event->mimeData());
    if (files.size() != 1) {
        event->ignore();
        return;
    }
    bool taken = false;
    if (isFolder(files.front())) {
        taken = folderHandler_ && folderHandler_(files.front());
    } else if (model_.acceptsDrop(files, event->source() == this)) {
        taken = model_.takeSoundFromFile(files.front());
    }
    if (taken) {
        event->acceptProposedAction();
        refresh();
    } else {
        event->ignore();
    }
}

} // namespace rp::widgets
