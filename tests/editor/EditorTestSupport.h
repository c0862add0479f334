#pragma once

#include "foundation/UserDefaults.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace rp::test {

// A user-defaults store in its own temporary folder.
class TempDefaults {
public:
    TempDefaults()
        : store_(std::make_unique<UserDefaults>(dir_ / "defaults.plist"))
    {
    }
    UserDefaults& store() { return *store_; }
    const std::filesystem::path& folder() const { return dir_.path(); }
    // A second store reading what this one saved, as the next launch would.
    std::unique_ptr<UserDefaults> reopened() const { return std::make_unique<UserDefaults>(dir_ / "defaults.plist"); }

private:
    TempDir dir_;
    std::unique_ptr<UserDefaults> store_;
};

// Points the application's resources at a folder for the lifetime of the object.
class ScopedResourcesDir {
public:
    explicit ScopedResourcesDir(const std::filesystem::path& folder)
    {
        ::setenv("RATTLEPAN_RESOURCES_DIR", folder.c_str(), 1);
    }
    ~ScopedResourcesDir() { ::unsetenv("RATTLEPAN_RESOURCES_DIR"); }
    ScopedResourcesDir(const ScopedResourcesDir&) = delete;
    ScopedResourcesDir& operator=(const ScopedResourcesDir&) = delete;
};

} // namespace rp::test
