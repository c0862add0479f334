#include "kit/ORPDrumKit.h"

#include "archive/KeyedArchiver.h"
#include "archive/KeyedUnarchiver.h"
#include "archive/TypedStreamDecoder.h"
#include "foundation/Logger.h"
#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

std::string ORPDrumInstrument::typeName() const
{
    return variants.empty() ? std::string() : variants.front()->typeName();
}

std::string ORPDrumGroup::groupName() const
{
    if (instruments.empty() || instruments.front()->variants.empty()) {
        return {};
    }
    return instruments.front()->variants.front()->groupName();
}

ORPDrumKit::~ORPDrumKit()
{
    rp::NotificationCenter::defaultCenter().removeObserver(this);
}

void ORPDrumKit::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        OASound::registerArchiveClasses();
        rp::KeyedUnarchiver::registerClass("ORPDrum",
            [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr { return ORPDrum::initWithCoder(coder); });
        rp::KeyedUnarchiver::registerClass(
            "ORPDrumKit", [](rp::KeyedUnarchiver& coder) -> rp::ArchiveObjectPtr {
                return ORPDrumKit::initWithCoder(coder);
            });
        rp::KeyedUnarchiver::setClassNameTranslation("DrumInfo", "ORPDrum");
        rp::KeyedUnarchiver::setClassNameTranslation("DrumKit", "ORPDrumKit");
        rp::TypedStreamDecoder::registerClass(
            "ORPDrum", [](rp::TypedStreamDecoder& decoder) -> rp::ArchiveObjectPtr {
                return ORPDrum::initWithTypedStream(decoder);
            });
        rp::TypedStreamDecoder::registerClass(
            "ORPDrumKit", [](rp::TypedStreamDecoder& decoder) -> rp::ArchiveObjectPtr {
                return ORPDrumKit::initWithTypedStream(decoder);
            });
        rp::TypedStreamDecoder::setClassNameTranslation("DrumInfo", "ORPDrum");
        rp::TypedStreamDecoder::setClassNameTranslation("DrumKit", "ORPDrumKit");
    });
}

std::string ORPDrumKit::kitName() const
{
    std::lock_guard lock(propertiesMutex_);
    return kitName_;
}

void ORPDrumKit::setKitName(const std::string& name)
{
    std::lock_guard lock(propertiesMutex_);
    kitName_ = name;
}

std::optional<std::string> ORPDrumKit::kitInfo() const
{
    std::lock_guard lock(propertiesMutex_);
    return kitInfo_;
}

void ORPDrumKit::setKitInfo(const std::optional<std::string>& info)
{
    std::lock_guard lock(propertiesMutex_);
    kitInfo_ = info;
}

std::optional<std::string> ORPDrumKit::fixLinksPrompt() const
{
    std::lock_guard lock(propertiesMutex_);
    return fixLinksPrompt_;
}

void ORPDrumKit::setFixLinksPrompt(const std::optional<std::string>& prompt)
{
    std::lock_guard lock(propertiesMutex_);
    fixLinksPrompt_ = prompt;
}

std::optional<ORPImageData> ORPDrumKit::kitImage() const
{
    std::lock_guard lock(propertiesMutex_);
    return kitImage_;
}

void ORPDrumKit::setKitImage(const std::optional<ORPImageData>& image)
{
    std::lock_guard lock(propertiesMutex_);
    kitImage_ = image;
}

ORPDrumPtr ORPDrumKit::drumWithTypeName(const std::string& typeName, const std::string& variantName) const
{
    for (const auto& group : drumsHierarchy_) {
        auto instrument = std::find_if(group->instruments.begin(), group->instruments.end(),
            [&](const ORPDrumInstrumentPtr& candidate) { return candidate->typeName() == typeName; });
        if (instrument == group->instruments.end()) {
            continue;
        }
        for (const auto& drum : (*instrument)->variants) {
            if (drum->variantName() == variantName) {
                return drum;
            }
        }
    }
    return nullptr;
}

void ORPDrumKit::rebuildHierarchyFromDrums()
{
    // Names are looked up in maps: a kit file may list very many drums.
    drumsHierarchy_.clear();
    std::unordered_map<std::string, size_t> groupIndex;
    std::vector<std::unordered_map<std::string, size_t>> instrumentIndex;
    for (const auto& drum : drums_) {
        auto group = groupIndex.find(drum->groupName());
        if (group == groupIndex.end()) {
            auto instrument = std::make_shared<ORPDrumInstrument>();
            instrument->variants.push_back(drum);
            auto newGroup = std::make_shared<ORPDrumGroup>();
            newGroup->instruments.push_back(std::move(instrument));
            groupIndex.emplace(drum->groupName(), drumsHierarchy_.size());
            instrumentIndex.push_back({ { drum->typeName(), 0 } });
            drumsHierarchy_.push_back(std::move(newGroup));
            continue;
        }
        auto& instruments = drumsHierarchy_[group->second]->instruments;
        auto& index = instrumentIndex[group->second];
        auto instrument = index.find(drum->typeName());
        if (instrument != index.end()) {
            instruments[instrument->second]->variants.push_back(drum);
        } else {
            auto newInstrument = std::make_shared<ORPDrumInstrument>();
            newInstrument->variants.push_back(drum);
            index.emplace(drum->typeName(), instruments.size());
            instruments.push_back(std::move(newInstrument));
        }
    }
}

void ORPDrumKit::regenerateDrumsFromHierarchy()
{
    drums_.clear();
    for (size_t g = 0; g < drumsHierarchy_.size(); ++g) {
        const auto position = static_cast<int64_t>(4 - (g % 5));
        for (const auto& instrument : drumsHierarchy_[g]->instruments) {
            for (const auto& drum : instrument->variants) {
                drum->setLegacyGridPosition(position);
                drums_.push_back(drum);
            }
        }
    }
}

void ORPDrumKit::addDrum(const ORPDrumPtr& drum)
{
    auto group = std::find_if(drumsHierarchy_.begin(), drumsHierarchy_.end(),
        [&](const ORPDrumGroupPtr& candidate) { return candidate->groupName() == drum->groupName(); });
    if (group == drumsHierarchy_.end()) {
        drumsHierarchy_.push_back(std::make_shared<ORPDrumGroup>());
        group = std::prev(drumsHierarchy_.end());
    }
    auto& instruments = (*group)->instruments;
    auto instrument = std::find_if(instruments.begin(), instruments.end(),
        [&](const ORPDrumInstrumentPtr& candidate) { return candidate->typeName() == drum->typeName(); });
    if (instrument == instruments.end()) {
        instruments.push_back(std::make_shared<ORPDrumInstrument>());
        instrument = std::prev(instruments.end());
    }
    (*instrument)->variants.push_back(drum);
    drums_.push_back(drum);
}

bool ORPDrumKit::fixDefaultVariants()
{
    rp::logf("Fixing pre-1G11 drum kit for default variants");
    bool changed = false;
    for (const auto& group : drumsHierarchy_) {
        for (const auto& instrument : group->instruments) {
            if (instrument->variants.empty()) {
                continue;
            }
            bool found = false;
            for (const auto& drum : instrument->variants) {
                if (drum->isDefaultVarForType()) {
                    if (found) {
                        drum->setDefaultVarForType(false);
                        changed = true;
                    }
                    found = true;
                }
            }
            if (!found) {
                instrument->variants.front()->setDefaultVarForType(true);
                changed = true;
            }
        }
    }
    return changed;
}

bool ORPDrumKit::upgradeDefaultVariantsIfNeeded()
{
    if (buildVersionSavedWith_ >= kDefaultVariantsFixedVersion) {
        return false;
    }
    fixDefaultVariants();
    return true;
}

void ORPDrumKit::encodeWithCoder(rp::KeyedArchiver& coder) const
{
    std::lock_guard lock(propertiesMutex_);
    coder.encodeString(kitName_, "ORPDK_kitName");
    if (kitInfo_) {
        coder.encodeString(*kitInfo_, "ORPDK_kitInfo");
    }
    if (fixLinksPrompt_) {
        coder.encodeString(*fixLinksPrompt_, "ORPDK_fixLinksPrompt");
    }
    if (kitImage_) {
        coder.encodeData(*kitImage_, "ORPDK_kitImage");
    }
    std::vector<rp::ArchiveObjectPtr> drums(drums_.begin(), drums_.end());
    coder.encodeArrayOfObjects(drums, "ORPDK_drums", true);
}

ORPDrumKitPtr ORPDrumKit::initWithCoder(rp::KeyedUnarchiver& coder)
{
    auto kit = std::make_shared<ORPDrumKit>();
    kit->kitName_ = coder.decodeStringForKey("ORPDK_kitName").value_or(std::string());
    kit->kitInfo_ = coder.decodeStringForKey("ORPDK_kitInfo");
    kit->fixLinksPrompt_ = coder.decodeStringForKey("ORPDK_fixLinksPrompt");
    kit->kitImage_ = coder.decodeDataForKey("ORPDK_kitImage");
    kit->drums_ = coder.decodeArrayOfObjectsOfClassForKey<ORPDrum>("ORPDK_drums");
    // The same drum object listed twice would stand twice in the hierarchy.
    std::vector<ORPDrumPtr> unique;
    std::unordered_set<const ORPDrum*> seen;
    for (const auto& drum : kit->drums_) {
        if (seen.insert(drum.get()).second) {
            unique.push_back(drum);
        } else {
            rp::logf("ORPDrumKit: drum %s is listed twice; keeping the first", drum->compositeName().c_str());
        }
    }
    kit->drums_ = std::move(unique);
    kit->rebuildHierarchyFromDrums();
    return kit;
}

ORPDrumKitPtr ORPDrumKit::initWithTypedStream(rp::TypedStreamDecoder& decoder)
{
    auto kit = std::make_shared<ORPDrumKit>();
    kit->kitName_ = decoder.decodeStringObject().value_or(std::string());
    kit->kitInfo_ = decoder.decodeStringObject();
    rp::ArchiveObjectPtr list = decoder.decodeObject();
    std::unordered_set<const ORPDrum*> seen;
    if (list) {
        auto array = std::dynamic_pointer_cast<rp::ArchivedArray>(list);
        if (!array) {
            decoder.failWithError("ORPDrumKit: drum list is a " + list->archiveClassName());
        }
        for (const auto& item : array->items) {
            auto drum = std::dynamic_pointer_cast<ORPDrum>(item);
            if (!drum) {
                decoder.failWithError("ORPDrumKit: drum list holds something other than drums");
            }
            if (seen.insert(drum.get()).second) {
                kit->drums_.push_back(std::move(drum));
            }
        }
    }
    kit->rebuildHierarchyFromDrums();
    return kit;
}
