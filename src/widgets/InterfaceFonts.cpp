#include "widgets/InterfaceFonts.h"

#include "editor/ORPInterfaceDefaults.h"

#include <QFontDatabase>
#include <QGuiApplication>

#include <set>

namespace rp::widgets {

QFont interfaceFont(const char* family, double pixelSize, bool bold)
{
    static const std::set<QString> installed = [] {
        const QStringList families = QFontDatabase::families();
        return std::set<QString>(families.begin(), families.end());
    }();
    const auto choice = preferredFont(family, pixelSize,
        [](const std::string& name) { return installed.count(QString::fromStdString(name)) > 0; });
    QFont font = choice.isSystemFont ? QGuiApplication::font() : QFont(QString::fromStdString(choice.family));
    font.setPixelSize(static_cast<int>(choice.size + 0.5));
    font.setBold(bold);
    return font;
}

} // namespace rp::widgets
