#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMimeData;

namespace rp::widgets {

// An image well: shows an image, takes a new one dropped on it (an image file or image data),
// pasted, or chosen in an open panel, offers it for dragging out or saving as a file, and says
// when the user changed it. Images it takes are stored as PNG, scaled down to a bound.
class OXImageView final : public QWidget {
    Q_OBJECT
public:
    using ImageData = std::vector<uint8_t>;

    explicit OXImageView(QWidget* parent = nullptr);

    // Shows these encoded image bytes (none: an empty well). Sends nothing.
    void setImageData(const std::optional<ImageData>& bytes);
    const std::optional<ImageData>& imageData() const { return bytes_; }
    void setEditable(bool editable) { editable_ = editable; }
    bool isEditable() const { return editable_; }
    // The file name (without extension) proposed when the image leaves as a file.
    void setDefaultFilename(std::function<std::string()> provider) { defaultFilename_ = std::move(provider); }
    // Shown, dimmed, while the well is empty: a picture (the drum's own icon) or a short text.
    void setPlaceholder(const QImage& image) { placeholder_ = image; update(); }
    void setPlaceholderText(const QString& text) { placeholderText_ = text; update(); }
    // The longest side, in pixels, of an image taken into the well.
    void setMaximumPixels(int pixels) { maximumPixels_ = pixels; }

    // Takes an image from a file or from image data: false (nothing changes) when it is not a
    // readable image. Sends imageChanged on success.
    bool takeImageFromFile(const QString& path);
    bool takeImageFromMime(const QMimeData* mime);
    void clearImage();
    void openFromFile();
    void saveToFile();

    QSize sizeHint() const override { return { 64, 64 }; }

    // Reads an image file within sane bounds and encodes it as PNG, no larger than `maximumPixels`
    // on its longest side; none for anything that is not an image.
    static std::optional<ImageData> storableImage(const QString& path, int maximumPixels);
    static std::optional<ImageData> storableImage(const QImage& image, int maximumPixels);

signals:
    // The user gave the well a new image or cleared it.
    void imageChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool acceptsMime(const QMimeData* mime) const;
    std::string filename() const;
    void adopt(std::optional<ImageData> bytes);

    std::optional<ImageData> bytes_;
    QImage image_;
    QImage placeholder_;
    QString placeholderText_;
    std::function<std::string()> defaultFilename_;
    int maximumPixels_ = 512;
    bool editable_ = true;
    bool highlighted_ = false;
    std::optional<QPoint> pressPoint_;
};

} // namespace rp::widgets
