#pragma once

#include "editor/ORPPasteboard.h"

#include <QMimeData>

#include <optional>
#include <string>
#include <vector>

// Pasteboard adapters. OXPasteboardMimeData carries a pasteboard's types as our MIME types and asks
// a type's provider only when a reader wants its bytes. OXMimePasteboard reads (never writes) a
// QMimeData, bounding what it accepts. OXClipboardPasteboard is the desktop's clipboard.
class OXPasteboardMimeData : public QMimeData {
    Q_OBJECT
public:
    explicit OXPasteboardMimeData(rp::editor::ORPMemoryPasteboard pasteboard);
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    rp::editor::ORPMemoryPasteboard pasteboard_;
};

class OXMimePasteboard : public rp::editor::ORPPasteboard {
public:
    explicit OXMimePasteboard(const QMimeData* data)
        : data_(data)
    {
    }
    void declareTypes(const std::vector<std::string>&) override { }
    void setData(const std::string&, std::vector<uint8_t>) override { }
    void setProvider(const std::string&, Provider) override { }
    bool hasType(const std::string& typeName) const override;
    std::optional<std::vector<uint8_t>> data(const std::string& typeName) const override;

private:
    const QMimeData* data_;
};

class OXClipboardPasteboard : public rp::editor::ORPPasteboard {
public:
    void declareTypes(const std::vector<std::string>& typeNames) override;
    void setData(const std::string& typeName, std::vector<uint8_t> bytes) override;
    void setProvider(const std::string& typeName, Provider provider) override;
    bool hasType(const std::string& typeName) const override;
    std::optional<std::vector<uint8_t>> data(const std::string& typeName) const override;

private:
    void publish();
    rp::editor::ORPMemoryPasteboard pending_;
};
