// rattlepan: the desktop application.

#include "BuildInfo.h"
#include "app/AppController.h"
#include "app/QtPrompt.h"
#include "app/QtRunLoop.h"
#include "app/SingleInstance.h"
#include "app/UiProbe.h"
#include "editor/ORPInterfaceDefaults.h"
#include "foundation/Logger.h"
#include "foundation/UserDefaults.h"
#include "model/ORPSong.h"

#include <QApplication>
#include <QFileInfo>
#include <QFontDatabase>
#include <QIcon>
#include <QTimer>

#include <cstdlib>

namespace {

// Floating panels need to place their own windows, which only X11 allows: prefer the xcb platform
// whenever an X display is there (XWayland included), unless the user chose a platform.
void preferX11()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else if (qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        rp::logf("Rattlepan: no X display: the floating panels stay unsnapped, because Wayland does not let programs place their windows");
    }
}

QStringList absoluteFiles(const QStringList& arguments)
{
    QStringList files;
    for (const QString& argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            files << QFileInfo(argument).absoluteFilePath();
        }
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    // The resources live in the static interface library; keep the linker from dropping them.
    Q_INIT_RESOURCE(resources);
    preferX11();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Rattlepan"));
    QApplication::setApplicationDisplayName(QStringLiteral("Rattlepan"));
    QApplication::setOrganizationDomain(QStringLiteral("rattlepan.net"));
    QApplication::setDesktopFileName(QStringLiteral(RP_APP_IDENTIFIER));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/rattlepan.svg")));
    QApplication::setQuitOnLastWindowClosed(false); // the controller decides, remembering what was open

    const QStringList files = absoluteFiles(QApplication::arguments().mid(1));
    rp::app::SingleInstance instance;
    if (instance.handOver(files)) {
        return EXIT_SUCCESS;
    }
    instance.listen();

    auto loop = std::make_shared<rp::app::QtRunLoop>();
    rp::RunLoop::setMain(loop);
    rp::ScopedPrompt prompt(std::make_shared<rp::app::QtPrompt>());
    ORPSong::registerArchiveClasses();
    ORPInterfaceDefaults::registerDefaults(rp::UserDefaults::standard());
    rp::app::UiProbe::installIfRequested();

    int status = EXIT_SUCCESS;
    {
        rp::app::AppController controller;
        QObject::connect(&instance, &rp::app::SingleInstance::filesReceived, &controller,
            [&controller](const QStringList& received) { controller.openFiles(received); });
        controller.applicationWillFinishLaunching(files);
        QTimer::singleShot(0, &controller, [&controller] { controller.applicationDidFinishLaunching(); });
        status = QApplication::exec();
    }
    rp::UserDefaults::standard().synchronize();
    rp::RunLoop::setMain(nullptr);
    return status;
}
