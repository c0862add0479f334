#include "app/Pasteboard.h"

#include "editor/PasteboardTypes.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace rp::app {

namespace {

QString mimeType(const std::string& typeName)
{
    return QString::fromStdString(editor::PasteboardTypes::mimeType(typeName));
}

} // namespace

QMimeData* Pasteboard::mimeData(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items)
{
    auto* data = new QMimeData;
    for (const auto& [name, bytes] : items) {
        data->setData(mimeType(name),
            QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    }
    return data;
}

void Pasteboard::write(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items)
{
    QGuiApplication::clipboard()->setMimeData(mimeData(items));
}

std::optional<std::vector<uint8_t>> Pasteboard::read(const QMimeData* data, const std::string& typeName)
{
    const QString type = mimeType(typeName);
    if (!data || !data->hasFormat(type)) {
        return std::nullopt;
    }
    const QByteArray bytes = data->data(type);
    if (static_cast<size_t>(bytes.size()) > editor::PasteboardTypes::kMaximumForeignBytes) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::optional<std::vector<uint8_t>> Pasteboard::read(const std::string& typeName)
{
    return read(QGuiApplication::clipboard()->mimeData(), typeName);
}

bool Pasteboard::hasType(const std::string& typeName)
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasFormat(mimeType(typeName));
}

std::vector<std::string> EditorClipboard::types() const
{
    std::vector<std::string> names;
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData()) {
        for (const QString& format : data->formats()) {
            if (auto name = editor::PasteboardTypes::nameFromMimeType(format.toStdString())) {
                names.push_back(*name);
            }
        }
    }
    return names;
}

std::optional<std::vector<uint8_t>> EditorClipboard::dataForType(const std::string& typeName) const
{
    return Pasteboard::read(typeName);
}

void EditorClipboard::setDataForType(const std::string& typeName, std::vector<uint8_t> bytes)
{
    Pasteboard::write({ { typeName, std::move(bytes) } });
}

} // namespace rp::app
