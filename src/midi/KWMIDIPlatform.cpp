#include "midi/KWMIDIPlatform.h"

#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace rp {

void midiBindMainThread()
{
    RunLoop::main();
}

void midiPerformOnMainThread(std::function<void()> work)
{
    RunLoop::main().perform(std::move(work));
}

void midiPostNotification(const std::string& name, const void* object)
{
    NotificationCenter::defaultCenter().post(name, object);
}

std::string midiBackendDefault()
{
    const std::string choice = UserDefaults::standard().stringForKey("RPMIDIBackend").value_or("");
    return choice.empty() ? "auto" : choice;
}

} // namespace rp
