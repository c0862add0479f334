#include "model/ORPEvent.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "foundation/Logger.h"

#include <unordered_map>

namespace {

// Stands in for one drum in one archive and writes it in sparse form.
class SparseDrum final : public rp::ArchiveObject, public rp::KeyedCoding {
public:
    explicit SparseDrum(ORPDrumPtr drum)
        : drum_(std::move(drum))
    {
    }
    std::string archiveClassName() const override { return drum_->archiveClassName(); }
    std::vector<std::string> keyedArchiveSuperclasses() const override
    {
        return drum_->keyedArchiveSuperclasses();
    }
    void encodeWithCoder(rp::KeyedArchiver& coder) const override
    {
        drum_->encodeSparse();
        drum_->encodeWithCoder(coder); // clears the request again
    }

private:
    ORPDrumPtr drum_;
};

} // namespace

void ORPEvent::archiveDrumsSparsely(rp::KeyedArchiver& coder)
{
    auto proxies = std::make_shared<std::unordered_map<const ArchiveObject*, rp::ArchiveObjectPtr>>();
    coder.setReplacement([proxies](const rp::ArchiveObjectPtr& object) -> rp::ArchiveObjectPtr {
        auto drum = std::dynamic_pointer_cast<ORPDrum>(object);
        if (!drum)
            return object;
        auto& proxy = (*proxies)[object.get()];
        if (!proxy)
            proxy = std::make_shared<SparseDrum>(drum);
        return proxy;
    });
}

ORPEvent::ORPEvent(float whenRatio, ORPDrumPtr drum, float velocity)
    : whenRatio_(whenRatio)
    , drum_(std::move(drum))
    , velocity_(velocity)
{
}

void ORPEvent::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    coder.encodeFloat(whenRatio(), "ORPE_whenRatio");
    coder.encodeObject(drum(), "ORPE_drum");
    coder.encodeFloat(velocity(), "ORPE_velocity");
}

ORPEventPtr ORPEvent::initWithCoder(rp::KeyedUnarchiver& coder)
{
    float when = coder.decodeFloatForKey("ORPE_whenRatio");
    auto drum = coder.decodeObjectOfClassForKey<ORPDrum>("ORPE_drum");
    float velocity = coder.decodeFloatForKey("ORPE_velocity");
    if (!drum) {
        rp::logf("ORPEvent: no drum for event at %f with velocity %f; using a new drum",
            static_cast<double>(when), static_cast<double>(velocity));
        drum = ORPDrum::drum();
    }
    return ORPEvent::event(when, std::move(drum), velocity);
}
