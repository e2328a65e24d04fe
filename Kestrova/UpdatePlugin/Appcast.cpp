#include "UpdatePlugin/Appcast.hpp"

#include <expat.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace kestrova {
namespace {

constexpr std::string_view kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";
/// Element and attribute names arrive as "namespace-URI name" (expat's namespace processing).
constexpr char kNamespaceSeparator = ' ';
/// A field longer than this is not a version or a link; the rest is ignored.
constexpr std::size_t kMaximumFieldLength = 64 * 1024;

bool isSparkle(std::string_view name, std::string_view local) {
    return name.size() == kSparkleNamespace.size() + 1 + local.size() &&
           name.starts_with(kSparkleNamespace) && name[kSparkleNamespace.size()] == kNamespaceSeparator &&
           name.ends_with(local);
}

std::optional<std::string> nonEmpty(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

struct ParseState {
    XML_Parser parser = nullptr;
    Appcast appcast;
    std::optional<Appcast::Item> item;
    std::optional<std::string> enclosureVersion, enclosureShortVersion;
    std::string text;
    bool refused = false;
    int depthInItem = 0; // 1 directly inside <item>

    void stop() {
        refused = true;
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL startElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& state = *static_cast<ParseState*>(data);
    const std::string_view element(name);
    state.text.clear();
    if (!state.item) {
        if (element == "item") {
            state.item.emplace();
            state.enclosureVersion.reset();
            state.enclosureShortVersion.reset();
            state.depthInItem = 1;
        }
        return;
    }
    ++state.depthInItem;
    if (state.depthInItem != 2 || element != "enclosure")
        return;
    for (auto attribute = attributes; attribute[0] && attribute[1]; attribute += 2) {
        const std::string_view key(attribute[0]);
        std::string value(attribute[1]);
        if (value.size() > kMaximumFieldLength)
            continue;
        if (key == "url")
            state.item->downloadURL = nonEmpty(std::move(value));
        else if (isSparkle(key, "version"))
            state.enclosureVersion = nonEmpty(std::move(value));
        else if (isSparkle(key, "shortVersionString"))
            state.enclosureShortVersion = nonEmpty(std::move(value));
    }
}

void XMLCALL endElement(void* data, const XML_Char* name) {
    auto& state = *static_cast<ParseState*>(data);
    if (!state.item)
        return;
    const std::string_view element(name);
    if (state.depthInItem == 1) { // </item>
        auto& item = *state.item;
        if (item.version.empty() && state.enclosureVersion)
            item.version = *state.enclosureVersion;
        if (!item.displayVersion)
            item.displayVersion = state.enclosureShortVersion;
        if (versionComponents(item.version))
            state.appcast.items.push_back(std::move(item));
        state.item.reset();
        state.depthInItem = 0;
        return;
    }
    if (state.depthInItem == 2) {
        auto value = nonEmpty(std::move(state.text));
        if (element == "title")
            state.item->title = value;
        else if (isSparkle(element, "version"))
            state.item->version = value.value_or("");
        else if (isSparkle(element, "shortVersionString"))
            state.item->displayVersion = value;
        else if (isSparkle(element, "releaseNotesLink"))
            state.item->releaseNotesLink = value;
    }
    state.text.clear();
    --state.depthInItem;
}

void XMLCALL characters(void* data, const XML_Char* text, int length) {
    auto& state = *static_cast<ParseState*>(data);
    if (state.item && state.depthInItem == 2 && state.text.size() < kMaximumFieldLength)
        state.text.append(text, std::min<std::size_t>(static_cast<std::size_t>(length),
                                                      kMaximumFieldLength - state.text.size()));
}

void XMLCALL doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<ParseState*>(data)->stop();
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

} // namespace

std::optional<std::vector<std::uint64_t>> versionComponents(std::string_view version) {
    const auto start = version.find_first_of("0123456789");
    if (start == std::string_view::npos)
        return std::nullopt;
    std::vector<std::uint64_t> numbers{0};
    for (char c : version.substr(start)) {
        if (c == '.') {
            numbers.push_back(0);
            continue;
        }
        if (c < '0' || c > '9')
            break;
        auto& n = numbers.back();
        const auto digit = static_cast<std::uint64_t>(c - '0');
        constexpr auto max = std::numeric_limits<std::uint64_t>::max();
        n = n > (max - digit) / 10 ? max : n * 10 + digit;
    }
    return numbers;
}

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
    const auto left = versionComponents(a);
    const auto right = versionComponents(b);
    if (!left || !right)
        return left.has_value() <=> right.has_value();
    const auto count = std::max(left->size(), right->size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto x = i < left->size() ? (*left)[i] : 0;
        const auto y = i < right->size() ? (*right)[i] : 0;
        if (x != y)
            return x <=> y;
    }
    return std::strong_ordering::equal;
}

joblark::Expected<Appcast> Appcast::parse(std::string_view xml) {
    std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator));
    if (!parser)
        return joblark::Unexpected{joblark::makeError("The update feed could not be read.")};
    ParseState state;
    state.parser = parser.get();
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), startElement, endElement);
    XML_SetCharacterDataHandler(parser.get(), characters);
    XML_SetStartDoctypeDeclHandler(parser.get(), doctype);
    if (xml.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return joblark::Unexpected{joblark::makeError("The update feed is too large.")};
    const auto status = XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    if (state.refused)
        return joblark::Unexpected{
            joblark::makeError("The update feed declares a document type, which is not allowed.")};
    if (status != XML_STATUS_OK)
        return joblark::Unexpected{
            joblark::makeError(std::string("The update feed is not valid XML: ") +
                               XML_ErrorString(XML_GetErrorCode(parser.get())) + " (line " +
                               std::to_string(XML_GetCurrentLineNumber(parser.get())) + ").")};
    return std::move(state.appcast);
}

std::optional<Appcast::Item> Appcast::newestItem() const {
    auto newest = std::max_element(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return compareVersions(a.version, b.version) < 0;
    });
    return newest == items.end() ? std::nullopt : std::optional(*newest);
}

} // namespace kestrova
