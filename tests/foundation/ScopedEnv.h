#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace rp::test {

// Sets (or, given a null value, unsets) an environment variable for one scope and restores it
// afterwards. `changed` runs after each change, for caches that read the variable.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value, std::function<void()> changed = {})
        : name_(name)
        , changed_(std::move(changed))
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const char* value)
    {
        value ? ::setenv(name_, value, 1) : ::unsetenv(name_);
        if (changed_)
            changed_();
    }
    const char* name_;
    std::function<void()> changed_;
    std::optional<std::string> old_;
};

} // namespace rp::test
