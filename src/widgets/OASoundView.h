#pragma once

#ifndef Q_MOC_RUN
#include "editor/OASoundWaveform.h"
#endif

#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

namespace rp::widgets {

// The sound well of the kit editor: paints the waveform columns its model computes, plays on
// double click, takes a sound file dropped on it or chosen through "Open Sound..." in its context
// menu, and hands a dropped folder to its folder handler.
class OASoundView final : public QWidget {
    Q_OBJECT
public:
    explicit OASoundView(QWidget* parent = nullptr);

    editor::OASoundViewModel& model() { return model_; }
    // A folder dropped on the view; true when it was taken.
    void setFolderHandler(std::function<bool(const std::filesystem::path&)> handler) { folderHandler_ = std::move(handler); }
    // "Save Sound..." runs this (the window owns the export panel); without it the item is not offered.
    void setSaveHandler(std::function<void()> handler) { saveHandler_ = std::move(handler); }
    // Shows the model's picture again (after the model's sound changed).
    void refresh();
    // The non-native chooser for one sound file.
    void openFromFile();

    QSize sizeHint() const override { return { 320, 120 }; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool acceptsDrag(const QMimeData* mime) const;

    editor::OASoundViewModel model_;
    std::function<bool(const std::filesystem::path&)> folderHandler_;
    std::function<void()> saveHandler_;
    std::optional<QPoint> pressPoint_;
    bool highlighted_ = false;
};

} // namespace rp::widgets
