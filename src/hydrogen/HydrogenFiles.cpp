#include "hydrogen/HydrogenFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pugixml.hpp>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace rp::hydrogen {

namespace {

constexpr size_t kMaxWarnings = 40;
constexpr size_t kMaxTextLength = 64 * 1024;

std::string trimmed(const char* text)
{
    std::string_view view(text);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front())))
        view.remove_prefix(1);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back())))
        view.remove_suffix(1);
    return std::string(view.substr(0, kMaxTextLength));
}

std::string text(const pugi::xml_node& node, const char* name)
{
    return trimmed(node.child(name).text().get());
}

// Hydrogen keeps notes as Qt rich text (an HTML document) in newer files: the text without markup,
// one line per paragraph. Plain text is returned as it is.
std::string plainText(const std::string& text)
{
    if (text.find("<html") == std::string::npos && text.find("<!DOCTYPE") == std::string::npos)
        return text;
    std::string body = text;
    if (const size_t head = body.find("<head>"); head != std::string::npos) {
        const size_t end = body.find("</head>", head);
        body.erase(head, end == std::string::npos ? std::string::npos : end + 7 - head);
    }
    std::string out;
    for (size_t i = 0; i < body.size();) {
        if (body[i] == '<') {
            const size_t end = body.find('>', i);
            const std::string tag
                = body.substr(i, end == std::string::npos ? std::string::npos : end - i + 1);
            if ((tag.starts_with("</p") || tag.starts_with("<br")) && !out.empty() && out.back() != '\n')
                out += '\n';
            i = end == std::string::npos ? body.size() : end + 1;
            continue;
        }
        static const std::pair<const char*, char> entities[] = { { "&lt;", '<' }, { "&gt;", '>' },
            { "&amp;", '&' }, { "&quot;", '"' }, { "&#39;", '\'' }, { "&nbsp;", ' ' } };
        bool decoded = false;
        for (const auto& [entity, character] : entities) {
            if (body.compare(i, std::strlen(entity), entity) == 0) {
                out += character;
                i += std::strlen(entity);
                decoded = true;
                break;
            }
        }
        if (!decoded)
            out += body[i++];
    }
    return trimmed(out.c_str());
}

// Field readers: a missing field gives the fallback; a field that is not a finite number (or is
// outside the range) gives the fallback and one warning naming the field.
class Fields {
public:
    Fields(ImportReport& report, std::string where)
        : report_(report)
        , where_(std::move(where))
    {
    }

    double number(const pugi::xml_node& node, const char* name, double fallback, double low, double high)
    {
        const pugi::xml_node child = node.child(name);
        if (!child)
            return fallback;
        const std::string value = trimmed(child.text().get());
        char* end = nullptr;
        errno = 0;
        const double parsed = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(parsed) || parsed < low
            || parsed > high) {
            addWarning(report_,
                where_ + ": " + name + " \"" + value.substr(0, 40) + "\" is not usable; using "
                    + std::to_string(fallback));
            return fallback;
        }
        return parsed;
    }

    int integer(const pugi::xml_node& node, const char* name, int fallback, int low, int high)
    {
        const double value = number(node, name, fallback, low, high);
        if (value != std::floor(value)) {
            addWarning(report_, where_ + ": " + name + " is not a whole number; rounded down");
        }
        return static_cast<int>(std::floor(value));
    }

    bool flag(const pugi::xml_node& node, const char* name)
    {
        const std::string value = text(node, name);
        return value == "true" || value == "1";
    }

    void setWhere(std::string where) { where_ = std::move(where); }

private:
    ImportReport& report_;
    std::string where_;
};

pugi::xml_document parseDocument(std::string_view bytes, const std::filesystem::path& file, const char* kind)
{
    if (bytes.size() > kMaxXmlBytes) {
        throw ImportError(file.filename().string() + " is too large to be a Hydrogen " + kind, file);
    }
    pugi::xml_document document;
    // No DOCTYPE, no entities beyond the five predefined ones: nothing to expand.
    const pugi::xml_parse_result result
        = document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        throw ImportError(file.filename().string() + " is not a readable Hydrogen " + kind + ": "
                + result.description() + " at byte " + std::to_string(result.offset),
            file);
    }
    return document;
}

H2Instrument parseInstrument(const pugi::xml_node& node, size_t index, ImportReport& report)
{
    H2Instrument instrument;
    instrument.name = text(node, "name");
    if (instrument.name.empty())
        instrument.name = "Instrument " + std::to_string(index + 1);
    Fields fields(report, "instrument \"" + instrument.name + "\"");
    instrument.id = fields.integer(node, "id", static_cast<int>(index), 0, 1 << 20);
    instrument.drumkit = text(node, "drumkit");
    instrument.volume = fields.number(node, "volume", 1, 0, 16);
    instrument.gain = fields.number(node, "gain", 1, 0, 16);
    if (node.child("pan")) {
        instrument.pan = fields.number(node, "pan", 0, -1, 1);
    } else if (node.child("pan_L") || node.child("pan_R")) {
        // The older form: one level per side, 1 at the centre.
        const double left = fields.number(node, "pan_L", 1, 0, 1);
        const double right = fields.number(node, "pan_R", 1, 0, 1);
        instrument.pan = std::clamp(right - left, -1.0, 1.0);
    }
    instrument.muteGroup = fields.integer(node, "muteGroup", -1, -1, 1 << 20);
    instrument.midiOutNote = fields.integer(node, "midiOutNote", -1, -1, 1 << 20);
    if (instrument.midiOutNote > 127) {
        addWarning(report,
            "instrument \"" + instrument.name + "\": MIDI out note " + std::to_string(instrument.midiOutNote)
                + " is out of range");
        instrument.midiOutNote = -1;
    }
    instrument.filterActive = fields.flag(node, "filterActive");
    instrument.envelope = fields.number(node, "Attack", 0, -1e9, 1e9) != 0
        || fields.number(node, "Decay", 0, -1e9, 1e9) != 0
        || fields.number(node, "Sustain", 1, -1e9, 1e9) != 1
        || fields.number(node, "Release", 1000, -1e9, 1e9) != 1000;
    instrument.pitch = fields.number(node, "pitchOffset", 0, -1e9, 1e9) != 0
        || fields.number(node, "randomPitchFactor", 0, -1e9, 1e9) != 0;
    for (const char* send : { "FX1Level", "FX2Level", "FX3Level", "FX4Level" }) {
        if (fields.number(node, send, 0, -1e9, 1e9) != 0)
            instrument.fxSends = true;
    }
    const std::string selection = text(node, "sampleSelectionAlgo");
    instrument.randomSelection = !selection.empty() && selection != "VELOCITY";

    // 1.x: layers inside components (only the first is read); 0.9: layers directly inside.
    pugi::xml_node layerParent = node;
    double componentGain = 1;
    if (const auto component = node.child("instrumentComponent")) {
        layerParent = component;
        componentGain = fields.number(component, "gain", 1, 0, 16);
        instrument.extraComponents = static_cast<bool>(component.next_sibling("instrumentComponent"));
    }
    for (const auto& layerNode : layerParent.children("layer")) {
        if (instrument.layers.size() >= kMaxLayers) {
            addWarning(report,
                "instrument \"" + instrument.name + "\" has more than " + std::to_string(kMaxLayers)
                    + " layers; the rest are left out");
            break;
        }
        H2Layer layer;
        layer.filename = text(layerNode, "filename");
        layer.min = fields.number(layerNode, "min", 0, 0, 1);
        layer.max = fields.number(layerNode, "max", 1, 0, 1);
        if (layer.max < layer.min)
            std::swap(layer.min, layer.max);
        layer.gain = fields.number(layerNode, "gain", 1, 0, 16) * componentGain;
        layer.pitch = fields.number(layerNode, "pitch", 0, -1e9, 1e9);
        if (layer.pitch != 0)
            instrument.pitch = true;
        if (layer.filename.empty()) {
            addWarning(
                report, "instrument \"" + instrument.name + "\": a layer without a sample file is left out");
            continue;
        }
        instrument.layers.push_back(std::move(layer));
    }
    return instrument;
}

std::vector<H2Instrument> parseInstruments(
    const pugi::xml_node& list, ImportReport& report, const std::filesystem::path& file)
{
    std::vector<H2Instrument> instruments;
    std::set<int> ids;
    for (const auto& node : list.children("instrument")) {
        if (instruments.size() >= kMaxInstruments) {
            throw ImportError(file.filename().string() + " has more than " + std::to_string(kMaxInstruments)
                    + " instruments",
                file);
        }
        auto instrument = parseInstrument(node, instruments.size(), report);
        if (!ids.insert(instrument.id).second) {
            addWarning(report,
                "instrument \"" + instrument.name + "\" repeats the id " + std::to_string(instrument.id)
                    + "; notes for that id play the first instrument");
            continue;
        }
        instruments.push_back(std::move(instrument));
    }
    return instruments;
}

} // namespace

ImportError::ImportError(const std::string& message, const std::filesystem::path& file)
    : std::runtime_error(message)
    , file_(file)
{
}

rp::Error ImportError::error() const
{
    rp::Error error;
    error.domain = kErrorDomain;
    error.code = kErrorInvalidFile;
    error.description = what();
    error.failureReason = what();
    if (!file_.empty()) {
        error.filePath = file_.string();
        if (file_.is_absolute())
            error.url = fileURLFromPath(file_.string());
    }
    return error;
}

void addWarning(ImportReport& report, const std::string& warning)
{
    auto& warnings = report.warnings;
    if (std::find(warnings.begin(), warnings.end(), warning) != warnings.end())
        return;
    if (warnings.size() == kMaxWarnings) {
        warnings.push_back("(further warnings left out)");
        return;
    }
    if (warnings.size() > kMaxWarnings)
        return;
    warnings.push_back(warning);
}

std::string readXmlFile(const std::filesystem::path& file)
{
    // Opened without following a FIFO's blocking open, checked to be a regular file of bounded size.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw ImportError("cannot open " + file.string() + ": " + std::strerror(errno), file);
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw ImportError(file.string() + " is not a regular file", file);
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxXmlBytes) {
        ::close(fd);
        throw ImportError(file.string() + " is too large to be a Hydrogen file", file);
    }
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

H2Kit parseDrumkitXml(std::string_view bytes, const std::filesystem::path& file, ImportReport& report)
{
    const auto document = parseDocument(bytes, file, "drumkit");
    const pugi::xml_node root = document.child("drumkit_info");
    if (!root)
        throw ImportError(file.filename().string() + " is not a Hydrogen drumkit (no drumkit_info)", file);
    H2Kit kit;
    kit.name = text(root, "name");
    kit.author = text(root, "author");
    kit.license = text(root, "license");
    kit.instruments = parseInstruments(root.child("instrumentList"), report, file);
    if (kit.instruments.empty())
        throw ImportError(file.filename().string() + " holds no instruments", file);
    return kit;
}

H2Song parseSongXml(std::string_view bytes, const std::filesystem::path& file, ImportReport& report)
{
    const auto document = parseDocument(bytes, file, "song");
    const pugi::xml_node root = document.child("song");
    if (!root)
        throw ImportError(file.filename().string() + " is not a Hydrogen song (no song element)", file);
    H2Song song;
    Fields fields(report, "song");
    song.name = text(root, "name");
    song.author = text(root, "author");
    song.notes = plainText(text(root, "notes"));
    song.bpm = fields.number(root, "bpm", 120, 1, 1000);
    song.humanizeTime = fields.number(root, "humanize_time", 0, -1e9, 1e9);
    song.humanizeVelocity = fields.number(root, "humanize_velocity", 0, -1e9, 1e9);
    song.swing = fields.number(root, "swing_factor", 0, -1e9, 1e9);
    song.instruments = parseInstruments(root.child("instrumentList"), report, file);

    size_t totalNotes = 0;
    std::set<std::string> names;
    for (const auto& node : root.child("patternList").children("pattern")) {
        if (song.patterns.size() >= kMaxPatterns) {
            throw ImportError(
                file.filename().string() + " has more than " + std::to_string(kMaxPatterns) + " patterns",
                file);
        }
        H2Pattern pattern;
        pattern.name = text(node, "name");
        if (pattern.name.empty())
            pattern.name = "Pattern " + std::to_string(song.patterns.size() + 1);
        fields.setWhere("pattern \"" + pattern.name + "\"");
        const double size = fields.number(node, "size", 192, 1, 1e9);
        if (size > kMaxPatternTicks) {
            throw ImportError("pattern \"" + pattern.name + "\" of " + file.filename().string() + " is "
                    + std::to_string(static_cast<long long>(size)) + " ticks long; at most "
                    + std::to_string(kMaxPatternTicks) + " can be imported",
                file);
        }
        pattern.size = std::max(1, static_cast<int>(std::lround(size)));
        for (const auto& noteNode : node.child("noteList").children("note")) {
            if (pattern.notes.size() >= kMaxNotesPerPattern || totalNotes >= kMaxNotes) {
                throw ImportError("pattern \"" + pattern.name + "\" of " + file.filename().string()
                        + " holds too many notes (at most " + std::to_string(kMaxNotesPerPattern)
                        + " a pattern and " + std::to_string(kMaxNotes) + " in all)",
                    file);
            }
            H2Note note;
            note.position = fields.integer(noteNode, "position", -1, -(1 << 30), 1 << 30);
            note.velocity = fields.number(noteNode, "velocity", 0.8, 0, 1);
            note.instrument = fields.integer(noteNode, "instrument", -1, -(1 << 30), 1 << 30);
            note.offsetOrChance = fields.number(noteNode, "leadlag", 0, -1e9, 1e9) != 0
                || fields.number(noteNode, "probability", 1, -1e9, 1e9) < 1;
            note.panOrPitch = fields.number(noteNode, "pan", 0, -1e9, 1e9) != 0
                || fields.number(noteNode, "pitch", 0, -1e9, 1e9) != 0;
            note.noteOff = fields.flag(noteNode, "note_off");
            pattern.notes.push_back(note);
            ++totalNotes;
        }
        if (!names.insert(pattern.name).second) {
            addWarning(report, "a second pattern named \"" + pattern.name + "\" is left out");
            continue;
        }
        song.patterns.push_back(std::move(pattern));
    }

    size_t virtualCount = 0;
    for (const auto& node : root.child("virtualPatternList").children("pattern")) {
        const std::string name = text(node, "name");
        auto& members = song.virtualPatterns[name];
        for (const auto& member : node.children("virtual")) {
            if (++virtualCount > kMaxPatterns * 4)
                throw ImportError(file.filename().string() + " has too many virtual patterns", file);
            members.push_back(trimmed(member.text().get()));
        }
    }

    // 1.x: one group per column; 0.9 wrote the same.
    for (const auto& group : root.child("patternSequence").children("group")) {
        if (song.columns.size() >= kMaxColumns) {
            throw ImportError(file.filename().string() + " has more than " + std::to_string(kMaxColumns)
                    + " song positions",
                file);
        }
        std::vector<std::string> column;
        for (const auto& id : group.children("patternID")) {
            if (column.size() >= kMaxPatternsPerColumn) {
                throw ImportError(file.filename().string() + " plays more than "
                        + std::to_string(kMaxPatternsPerColumn) + " patterns at once",
                    file);
            }
            column.push_back(trimmed(id.text().get()));
        }
        song.columns.push_back(std::move(column));
    }

    fields.setWhere("tempo marker");
    for (const auto& marker : root.child("BPMTimeLine").children("newBPM")) {
        if (song.tempoMarkers.size() >= kMaxColumns)
            break;
        H2TempoMarker tempo;
        tempo.column = fields.integer(marker, "BAR", -1, -1, 1 << 30);
        tempo.bpm = fields.number(marker, "BPM", song.bpm, 1, 1000);
        if (tempo.column < 0) {
            addWarning(report, "a tempo marker without a usable position is left out");
            continue;
        }
        song.tempoMarkers.push_back(tempo);
    }
    std::stable_sort(song.tempoMarkers.begin(), song.tempoMarkers.end(),
        [](const H2TempoMarker& a, const H2TempoMarker& b) { return a.column < b.column; });
    return song;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace rp::hydrogen
