#pragma once

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace rp::test {

// The one QApplication of the widget tests, on the offscreen platform.
inline QApplication& testApplication()
{
    static int argc = 1;
    static char name[] = "rp_tests_app";
    static char* argv[] = { name, nullptr };
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Panels and windows save their frames: into a folder of this run, never the user's.
        if (std::getenv("RATTLEPAN_DEFAULTS_DIR") == nullptr) {
            static std::string folder = "/tmp/rp-tests-app-XXXXXX";
            if (::mkdtemp(folder.data()) != nullptr) {
                ::setenv("RATTLEPAN_DEFAULTS_DIR", folder.c_str(), 1);
                std::atexit([] {
                    std::error_code ignored;
                    std::filesystem::remove_all(folder, ignored);
                });
            }
        }
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace rp::test
