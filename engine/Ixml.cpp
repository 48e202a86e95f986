// iXML's values that describe the file or count its samples, rewritten for the new file; every
// other byte of the document stays as it was.

#include "Metadata.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace fennick {

namespace {

// An element holding text only: its name, its parent's, and where its text lies.
struct TextElement {
    std::string_view name, parent;
    std::size_t begin = 0, end = 0;
};

// The text-only elements of a document whose tags nest, or nothing when they do not (or it has
// none). Comments, processing instructions, declarations and CDATA are stepped over.
std::optional<std::vector<TextElement>> textElements(std::string_view xml)
{
    struct Open {
        std::string_view name;
        std::size_t contentBegin;
        bool hasChild;
    };
    std::vector<Open> open;
    std::vector<TextElement> elements;
    bool any = false;
    for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at)) {
        const std::string_view rest = xml.substr(at);
        const auto skipTo = [&](std::string_view closer) {
            const std::size_t found = xml.find(closer, at + 2);
            at = found == std::string_view::npos ? found : found + closer.size();
            return at != std::string_view::npos;
        };
        if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[") || rest.starts_with("<?")) {
            if (!open.empty()) open.back().hasChild = true; // not plain text any more
            if (!skipTo(rest[1] == '?' ? "?>" : rest[2] == '-' ? "-->" : "]]>")) return std::nullopt;
            continue;
        }
        const std::size_t start = at, close = xml.find('>', at);
        if (close == std::string_view::npos) return std::nullopt;
        std::string_view tag = xml.substr(at + 1, close - at - 1);
        at = close + 1;
        if (tag.starts_with('!')) continue; // a declaration
        if (tag.starts_with('/')) {
            tag = tag.substr(1, tag.find_last_not_of(" \t\r\n"));
            if (open.empty() || open.back().name != tag) return std::nullopt;
            const Open done = open.back();
            open.pop_back();
            if (!done.hasChild)
                elements.push_back({done.name, open.empty() ? "" : open.back().name, done.contentBegin, start});
            continue;
        }
        const std::string_view name = tag.substr(0, std::min(tag.find_first_of(" \t\r\n/"), tag.size()));
        if (name.empty()) return std::nullopt;
        if (!open.empty()) open.back().hasChild = true;
        any = true;
        if (!tag.ends_with('/')) open.push_back({name, close + 1, false});
    }
    if (!open.empty() || !any) return std::nullopt;
    return elements;
}

struct Edit {
    std::size_t begin, end;
    std::string text;
};

} // namespace

std::string rewriteIxml(
    const std::string& xml, const MetadataTarget& target, std::optional<std::uint64_t> timeReference)
{
    const auto elements = textElements(xml);
    if (!elements) return xml;

    // The number an element holds, and where its digits are; spaces around them stay.
    struct Number {
        std::uint64_t value;
        std::size_t begin, end;
    };
    const auto number = [&](const TextElement& element) -> std::optional<Number> {
        const std::string_view text = std::string_view(xml).substr(element.begin, element.end - element.begin);
        const std::size_t first = text.find_first_not_of(" \t\r\n"), last = text.find_last_not_of(" \t\r\n");
        if (first == std::string_view::npos) return std::nullopt;
        std::uint64_t value = 0;
        const auto [stop, error] = std::from_chars(text.data() + first, text.data() + last + 1, value);
        if (error != std::errc() || stop != text.data() + last + 1) return std::nullopt;
        return Number{value, element.begin + first, element.begin + last + 1};
    };
    const auto find = [&](std::string_view name, std::string_view parent = {}) -> const TextElement* {
        for (const TextElement& element : *elements) {
            if (element.name == name && (parent.empty() || element.parent == parent)) return &element;
        }
        return nullptr;
    };

    std::vector<Edit> edits;
    bool malformed = false;
    // Sets the element's number, if there is the element; one that holds no number spoils the document.
    const auto set = [&](const TextElement* element, std::uint64_t value) {
        if (element == nullptr) return;
        if (const auto old = number(*element))
            edits.push_back({old->begin, old->end, std::to_string(value)});
        else
            malformed = true;
    };
    const auto value = [&](const TextElement* element) { return element ? number(*element) : std::nullopt; };
    const auto rescalePair = [&](const TextElement* high, const TextElement* low, std::int64_t from,
                                 std::optional<std::uint64_t> given) {
        if (high == nullptr || low == nullptr) return;
        const auto h = value(high), l = value(low);
        if (!h || !l || h->value > 0xFFFFFFFF || l->value > 0xFFFFFFFF) {
            malformed = true;
            return;
        }
        const std::uint64_t now = given.value_or(rescalePosition(h->value << 32 | l->value, from, target.targetRate));
        set(high, now >> 32);
        set(low, now & 0xFFFFFFFF);
    };

    for (const TextElement& element : *elements) {
        if (element.name == "FILE_SAMPLE_RATE") set(&element, static_cast<std::uint64_t>(target.targetRate));
        if (element.name == "AUDIO_BIT_DEPTH") set(&element, static_cast<std::uint64_t>(bitsPerSample(target.format)));
    }
    rescalePair(find("BWF_TIME_REFERENCE_HIGH", "BEXT"), find("BWF_TIME_REFERENCE_LOW", "BEXT"), target.sourceRate,
        timeReference);
    // The timestamp is counted at its own rate; it moves to the new rate with it.
    const TextElement* stampRate = find("TIMESTAMP_SAMPLE_RATE");
    const TextElement* stampHigh = find("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI");
    const TextElement* stampLow = find("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO");
    const auto rate = value(stampRate);
    if (stampRate != nullptr && (!rate || rate->value == 0 || rate->value > 0x7FFFFFFF)) malformed = true;
    if (stampHigh != nullptr && stampLow != nullptr) {
        rescalePair(
            stampHigh, stampLow, rate ? static_cast<std::int64_t>(rate->value) : target.sourceRate, std::nullopt);
        set(stampRate, static_cast<std::uint64_t>(target.targetRate));
    }
    if (malformed) return xml;

    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
    std::string result = xml;
    for (const Edit& edit : edits) result.replace(edit.begin, edit.end - edit.begin, edit.text);
    return result;
}

} // namespace fennick
