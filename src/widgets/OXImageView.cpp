#include "widgets/OXImageView.h"

#include "foundation/FileNames.h"
#include "foundation/Localization.h"
#include "foundation/Logger.h"
#include "widgets/OXDragOut.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>

namespace rp::widgets {

namespace {

// Bounds on what a well reads: hostile or huge files are refused before they are decoded.
constexpr qint64 kMaximumImageFileBytes = 64LL * 1024 * 1024;
constexpr qint64 kMaximumImagePixels = 64LL * 1024 * 1024;

QString qt(const std::string& text)
{
    return QString::fromStdString(text);
}

std::optional<QString> singleLocalFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().front().isLocalFile()) {
        return std::nullopt;
    }
    return mime->urls().front().toLocalFile();
}

} // namespace

OXImageView::OXImageView(QWidget* parent)
    : QWidget(parent)
{
    setAcceptDrops(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(32, 32);
}

std::optional<OXImageView::ImageData> OXImageView::storableImage(const QImage& image, int maximumPixels)
{
    if (image.isNull()) {
        return std::nullopt;
    }
    QImage stored = image;
    if (std::max(stored.width(), stored.height()) > maximumPixels) {
        stored = stored.scaled(maximumPixels, maximumPixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!stored.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return ImageData(png.begin(), png.end());
}

std::optional<OXImageView::ImageData> OXImageView::storableImage(const QString& path, int maximumPixels)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaximumImageFileBytes) {
        return std::nullopt;
    }
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!reader.canRead() || (size.isValid() && qint64(size.width()) * size.height() > kMaximumImagePixels)) {
        return std::nullopt;
    }
    return storableImage(reader.read(), maximumPixels);
}

void OXImageView::setImageData(const std::optional<ImageData>& bytes)
{
    // The window shows its drum again after every change: the same image is not decoded again.
    if (bytes == bytes_) {
        return;
    }
    bytes_ = bytes;
    image_ = QImage();
    if (bytes_ && !bytes_->empty() && bytes_->size() < static_cast<size_t>(kMaximumImageFileBytes)) {
        image_ = QImage::fromData(bytes_->data(), static_cast<int>(bytes_->size()));
    }
    update();
}

void OXImageView::adopt(std::optional<ImageData> bytes)
{
    setImageData(bytes);
    emit imageChanged();
}

bool OXImageView::takeImageFromFile(const QString& path)
{
    auto bytes = storableImage(path, maximumPixels_);
    if (!bytes) {
        return false;
    }
    adopt(std::move(bytes));
    return true;
}

bool OXImageView::takeImageFromMime(const QMimeData* mime)
{
    if (!mime) {
        return false;
    }
    if (const auto file = singleLocalFile(mime)) {
        return takeImageFromFile(*file);
    }
    if (mime->hasImage()) {
        auto bytes = storableImage(qvariant_cast<QImage>(mime->imageData()), maximumPixels_);
        if (bytes) {
            adopt(std::move(bytes));
            return true;
        }
    }
    return false;
}

void OXImageView::clearImage()
{
    if (bytes_) {
        adopt(std::nullopt);
    }
}

std::string OXImageView::filename() const
{
    const std::string proposed = defaultFilename_ ? defaultFilename_() : std::string();
    return sanitizedFilename(proposed, localized("untitled"));
}

void OXImageView::openFromFile()
{
    if (!editable_) {
        return;
    }
    QFileDialog dialog(window(), qt(localized("Choose an Image")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setProperty("probeKind", "openPanel");
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats()) {
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    }
    dialog.setNameFilters({ qt(localized("Images")) + QStringLiteral(" (") + patterns.join(QLatin1Char(' '))
            + QStringLiteral(")"),
        qt(localized("All Files")) + QStringLiteral(" (*)") });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    if (!takeImageFromFile(dialog.selectedFiles().front())) {
        QApplication::beep();
    }
}

void OXImageView::saveToFile()
{
    if (image_.isNull()) {
        return;
    }
    QFileDialog dialog(window(), qt(localized("Save Image")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.setNameFilters({ qt(localized("PNG Images")) + QStringLiteral(" (*.png)") });
    dialog.selectFile(qt(filename()) + QStringLiteral(".png"));
    dialog.setProperty("probeKind", "savePanel");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().front();
    if (!image_.save(path, "PNG")) {
        Logger::log("an error occurred during file write");
        QApplication::beep();
    }
}

void OXImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRect well = rect().adjusted(1, 1, -2, -2);
    painter.fillRect(well, highlighted_ ? palette().color(QPalette::Highlight).lighter(170) : palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(well);
    const QRect inside = well.adjusted(3, 3, -2, -2);
    if (image_.isNull()) {
        if (!placeholder_.isNull()) {
            painter.setOpacity(0.5);
            const QSize size = placeholder_.deviceIndependentSize().toSize().scaled(inside.size(), Qt::KeepAspectRatio)
                                   .boundedTo(placeholder_.deviceIndependentSize().toSize());
            painter.drawImage(QRect(inside.center() - QPoint(size.width() / 2, size.height() / 2), size), placeholder_);
        } else if (!placeholderText_.isEmpty()) {
            painter.setPen(palette().color(QPalette::PlaceholderText));
            painter.drawText(inside, Qt::AlignCenter | Qt::TextWordWrap, placeholderText_);
        }
        return;
    }
    QSize size = image_.size();
    if (size.width() > inside.width() || size.height() > inside.height()) {
        size.scale(inside.size(), Qt::KeepAspectRatio);
    }
    const QRect target(inside.x() + (inside.width() - size.width()) / 2, inside.y() + (inside.height() - size.height()) / 2,
        size.width(), size.height());
    painter.drawImage(target, image_);
}

void OXImageView::mousePressEvent(QMouseEvent* event)
{
    pressPoint_.reset();
    if (event->button() == Qt::LeftButton) {
        pressPoint_ = event->position().toPoint();
    }
    QWidget::mousePressEvent(event);
}

void OXImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressPoint_ || !(event->buttons() & Qt::LeftButton) || image_.isNull()
        || (event->position().toPoint() - *pressPoint_).manhattanLength() < QApplication::startDragDistance()) {
        return;
    }
    pressPoint_.reset();
    const auto folder = freshDragOutFolder();
    if (!folder) {
        return;
    }
    const auto file = *folder / (filename() + ".png");
    if (!image_.save(QString::fromStdString(file.string()), "PNG")) {
        return;
    }
    const QPixmap picture = QPixmap::fromImage(image_.scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    runFileDrag(this, file, picture, QPoint(picture.width() / 2, picture.height() / 2));
}

void OXImageView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    if (editable_) {
        connect(menu.addAction(qt(localized("Open Image..."))), &QAction::triggered, this, [this] { openFromFile(); },
            Qt::QueuedConnection);
    }
    if (!image_.isNull()) {
        connect(menu.addAction(qt(localized("Save Image..."))), &QAction::triggered, this, [this] { saveToFile(); },
            Qt::QueuedConnection);
        connect(menu.addAction(qt(localized("Copy"))), &QAction::triggered, this,
            [this] { QApplication::clipboard()->setImage(image_); });
    }
    if (editable_) {
        QAction* paste = menu.addAction(qt(localized("Paste")));
        paste->setEnabled(acceptsMime(QApplication::clipboard()->mimeData()));
        connect(paste, &QAction::triggered, this, [this] { takeImageFromMime(QApplication::clipboard()->mimeData()); });
        QAction* clear = menu.addAction(qt(localized("Clear")));
        clear->setEnabled(bytes_.has_value());
        connect(clear, &QAction::triggered, this, [this] { clearImage(); });
    }
    menu.exec(event->globalPos());
}

void OXImageView::keyPressEvent(QKeyEvent* event)
{
    if (editable_ && event->matches(QKeySequence::Paste)) {
        if (!takeImageFromMime(QApplication::clipboard()->mimeData())) {
            QApplication::beep();
        }
    } else if (!image_.isNull() && event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setImage(image_);
    } else if (editable_ && (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace)) {
        clearImage();
    } else {
        QWidget::keyPressEvent(event);
    }
}

bool OXImageView::acceptsMime(const QMimeData* mime) const
{
    if (!editable_ || !mime) {
        return false;
    }
    if (const auto file = singleLocalFile(mime)) {
        return !QImageReader::imageFormat(*file).isEmpty();
    }
    return mime->hasImage();
}

void OXImageView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == this || !acceptsMime(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    highlighted_ = true;
    update();
}

void OXImageView::dragLeaveEvent(QDragLeaveEvent*)
{
    highlighted_ = false;
    update();
}

void OXImageView::dropEvent(QDropEvent* event)
{
    highlighted_ = false;
    update();
    if (event->source() != this && takeImageFromMime(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

} // namespace rp::widgets
