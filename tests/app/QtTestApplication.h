#pragma once

#include <QApplication>

namespace rp::test {

// The one QApplication of the widget tests, on the offscreen platform.
inline QApplication& testApplication()
{
    static int argc = 1;
    static char name[] = "rp_tests_app";
    static char* argv[] = { name, nullptr };
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace rp::test
