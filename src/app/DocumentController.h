#pragma once

#include <QObject>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class ReconcilePanel;

namespace rp::app {

class KitWindow;
class SongWindow;

// The open song documents, one window each: new, open (with recent documents), save, save as,
// revert, close with the unsaved-changes question, and closing everything before quitting.
// Keeps the windows in the order they were last activated, front first.
class DocumentController final : public QObject {
    Q_OBJECT
public:
    explicit DocumentController(std::shared_ptr<ReconcilePanel> reconcilePanel, QObject* parent = nullptr);
    ~DocumentController() override;

    static DocumentController* shared();

    SongWindow* newDocument();
    // Opens the file (or brings its window to the front when it is open already). Failures are
    // presented to the user unless `quietly`, and return null.
    SongWindow* openDocument(const std::filesystem::path& path, bool quietly = false);
    // Shows the open panel.
    void openDocumentInteractively();

    bool saveDocument(SongWindow* window);
    bool saveDocumentAs(SongWindow* window);
    void revertDocumentToSaved(SongWindow* window);
    // Asks about unsaved changes; closes the window unless the user cancels. True when closed.
    bool closeDocument(SongWindow* window);
    // Closes every window, asking for each unsaved one; false when the user cancelled.
    bool closeAll();

    // Front first.
    const std::vector<SongWindow*>& windows() const { return windows_; }
    SongWindow* frontmost() const { return windows_.empty() ? nullptr : windows_.front(); }

    // Kit documents, one window each (kept apart from the songs, front first).
    KitWindow* newKitDocument();
    KitWindow* openKitDocument(const std::filesystem::path& path, bool quietly = false);
    bool saveKit(KitWindow* window);
    bool saveKitAs(KitWindow* window);
    bool closeKit(KitWindow* window);
    const std::vector<KitWindow*>& kitWindows() const { return kitWindows_; }
    // The kit window when a kit window was the last document window made active, else none.
    KitWindow* frontKitWindow() const;

    QStringList recentDocuments() const;
    void clearRecentDocuments();

signals:
    void documentsChanged();
    void lastWindowClosed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SongWindow* adopt(SongWindow* window);
    void noteRecent(const std::filesystem::path& path);
    void forget(SongWindow* window);

    std::shared_ptr<ReconcilePanel> reconcilePanel_;
    std::vector<SongWindow*> windows_;
    KitWindow* adoptKit(KitWindow* window);
    void forgetKit(KitWindow* window);
    std::vector<KitWindow*> kitWindows_;
    KitWindow* frontKit_ = nullptr;
};

} // namespace rp::app
