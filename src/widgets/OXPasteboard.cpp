#include "widgets/OXPasteboard.h"

#include "editor/PasteboardTypes.h"

#include <QClipboard>
#include <QGuiApplication>

using rp::editor::PasteboardTypes;

namespace {

QString mimeTypeOf(const std::string& typeName)
{
    return QString::fromStdString(PasteboardTypes::mimeType(typeName));
}

} // namespace

OXPasteboardMimeData::OXPasteboardMimeData(rp::editor::ORPMemoryPasteboard pasteboard)
    : pasteboard_(std::move(pasteboard))
{
}

QStringList OXPasteboardMimeData::formats() const
{
    QStringList list;
    for (const auto& type : pasteboard_.types())
        list << mimeTypeOf(type);
    return list;
}

bool OXPasteboardMimeData::hasFormat(const QString& mimeType) const
{
    return formats().contains(mimeType);
}

QVariant OXPasteboardMimeData::retrieveData(const QString& mimeType, QMetaType) const
{
    const auto name = PasteboardTypes::nameFromMimeType(mimeType.toStdString());
    if (!name)
        return {};
    const auto bytes = pasteboard_.data(*name);
    if (!bytes)
        return {};
    return QByteArray(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
}

bool OXMimePasteboard::hasType(const std::string& typeName) const
{
    return data_ && data_->hasFormat(mimeTypeOf(typeName));
}

std::optional<std::vector<uint8_t>> OXMimePasteboard::data(const std::string& typeName) const
{
    if (!hasType(typeName))
        return std::nullopt;
    const QByteArray bytes = data_->data(mimeTypeOf(typeName));
    if (bytes.isEmpty() || static_cast<size_t>(bytes.size()) > PasteboardTypes::kMaximumForeignBytes)
        return std::nullopt;
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void OXClipboardPasteboard::declareTypes(const std::vector<std::string>& typeNames)
{
    pending_.declareTypes(typeNames);
    publish();
}

void OXClipboardPasteboard::setData(const std::string& typeName, std::vector<uint8_t> bytes)
{
    pending_.setData(typeName, std::move(bytes));
    publish();
}

void OXClipboardPasteboard::setProvider(const std::string& typeName, Provider provider)
{
    pending_.setProvider(typeName, std::move(provider));
    publish();
}

void OXClipboardPasteboard::publish()
{
    QGuiApplication::clipboard()->setMimeData(new OXPasteboardMimeData(pending_));
}

bool OXClipboardPasteboard::hasType(const std::string& typeName) const
{
    return OXMimePasteboard(QGuiApplication::clipboard()->mimeData()).hasType(typeName);
}

std::optional<std::vector<uint8_t>> OXClipboardPasteboard::data(const std::string& typeName) const
{
    return OXMimePasteboard(QGuiApplication::clipboard()->mimeData()).data(typeName);
}
