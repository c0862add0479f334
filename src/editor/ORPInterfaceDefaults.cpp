#include "editor/ORPInterfaceDefaults.h"

#include "foundation/UserDefaults.h"

void ORPInterfaceDefaults::registerDefaults(rp::UserDefaults& defaults)
{
    defaults.registerDefaults({
        { kPatternsPerRowKey, int64_t { -1 } },
        { kSectionBeginsNewRowKey, false },
    });
}

ORPFontChoice preferredFont(
    const std::string& name, double size, const std::function<bool(const std::string& family)>& isInstalled)
{
    if (!name.empty() && isInstalled(name)) {
        return { name, size, false };
    }
    for (const char* fallback : { "Arial", "Helvetica", "Geneva", "DejaVu Sans", "Liberation Sans" }) {
        if (isInstalled(fallback)) {
            return { fallback, size, false };
        }
    }
    return { "", 11.0, true };
}
