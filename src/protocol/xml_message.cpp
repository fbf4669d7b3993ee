#include "protocol/xml_message.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "protocol/diag_log.h"
#include "protocol/message_sink.h"
#include "protocol/return_codes.h"

namespace krt {
namespace {

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

constexpr unsigned kRawOutput = pugi::format_raw | pugi::format_no_declaration;

// True when a carriage return lies in CDATA, where no character reference can stand for it.
bool holdsCarriageReturnInCdata(const pugi::xml_node& node) {
    if (node.type() == pugi::node_cdata) {
        return std::strchr(node.value(), '\r') != nullptr;
    }
    return std::ranges::any_of(node.children(), holdsCarriageReturnInCdata);
}

// A reader's end-of-line handling turns a literal carriage return in text into a line feed,
// so text holding one is written with "&#13;" to reach the peer as it is. The printer leaves
// such a byte literal only in text, CDATA and comments (attribute values get references).
void escapeCarriageReturns(std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        if (c == '\r') {
            escaped += "&#13;";
        } else {
            escaped += c;
        }
    }
    text = std::move(escaped);
}

bool holdsBlankText(const pugi::xml_node& node) {
    if (node.type() == pugi::node_pcdata) {
        return isBlankOnly(node.value());
    }
    return std::ranges::any_of(node.children(), holdsBlankText);
}

// The printer writes blank-only text literally, which a reader then drops; such text is
// written as references, and the elements around it are printed here to make room for them.
void printNode(const pugi::xml_node& node, StringWriter& writer) {
    if (!holdsBlankText(node)) {
        node.print(writer, "", kRawOutput);
        return;
    }
    if (node.type() == pugi::node_pcdata) {
        writer.text += characterReferences(node.value());
        return;
    }
    if (node.type() == pugi::node_element) {
        pugi::xml_document scratch;
        pugi::xml_node tag = scratch.append_child(node.name());
        for (const pugi::xml_attribute& attribute : node.attributes()) {
            tag.append_copy(attribute);
        }
        StringWriter emptyTag;  // "<name attributes/>"
        tag.print(emptyTag, "", kRawOutput);
        writer.text.append(emptyTag.text, 0, emptyTag.text.size() - 2).append(">");
    }
    for (const pugi::xml_node& child : node.children()) {
        printNode(child, writer);
    }
    if (node.type() == pugi::node_element) {
        writer.text.append("</").append(node.name()).append(">");
    }
}

std::string serializeNode(const pugi::xml_node& node) {
    StringWriter writer;
    printNode(node, writer);
    if (writer.text.find('\r') != std::string::npos && !holdsCarriageReturnInCdata(node)) {
        escapeCarriageReturns(writer.text);
    }
    return writer.text;
}

}  // namespace

XmlNode XmlNode::child(std::string_view name) const {
    if (!*this) {
        return {};
    }
    const std::string key(name);
    return {m_document, m_node.child(key.c_str())};
}

int XmlNode::childInt(std::string_view name) const {
    return parseLeadingInt(childText(name));
}

std::vector<XmlNode> XmlNode::children(std::string_view name) const {
    std::vector<XmlNode> found;
    if (!*this) {
        return found;
    }
    const std::string key(name);
    for (const pugi::xml_node& node : m_node.children(key.c_str())) {
        found.emplace_back(m_document, node);
    }
    return found;
}

XmlNode XmlNode::appendElement(std::string_view name, std::optional<std::string_view> text) {
    if (!*this) {
        return {};
    }
    const std::string key(name);
    pugi::xml_node element = m_node.append_child(key.c_str());
    if (text) {
        const std::string value(*text);
        element.append_child(pugi::node_pcdata).set_value(value.c_str());
    }
    return {m_document, element};
}

XmlNode XmlNode::ownerDocument() const {
    if (!m_document) {
        return {};
    }
    return {m_document, *m_document};
}

bool isBlankOnly(std::string_view text) {
    return !text.empty() && text.find_first_not_of(" \t\n\r") == std::string_view::npos;
}

std::string characterReferences(std::string_view text) {
    std::string references;
    for (const char c : text) {
        references.append("&#").append(std::to_string(static_cast<unsigned char>(c))).append(";");
    }
    return references;
}

std::string boundedUtf8(std::string text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    const auto isContinuation = [&text](std::size_t at) {
        return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    };
    // Back up to the start of a character that the cut would split: it lies at most three
    // bytes back. Continuation bytes with no such start are no character; they are cut as bytes.
    std::size_t start = maxBytes;
    while (start > 0 && maxBytes - start < 3 && isContinuation(start)) {
        --start;
    }
    const bool splitsACharacter =
        start < maxBytes && static_cast<unsigned char>(text[start]) >= 0xC0;
    text.resize(splitsACharacter ? start : maxBytes);
    return text;
}

int parseLeadingInt(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && std::strchr(" \t\n\v\f\r", text[pos]) != nullptr) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            break;
        }
    }
    if (negative) {
        value = -value;
    }
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

XmlNode loadXmlDocument(std::string_view text) {
    if (text.size() > kMaxXmlTextBytes) {
        return {};
    }
    auto document = std::make_shared<pugi::xml_document>();
    if (!document->load_buffer(text.data(), text.size())) {
        return {};
    }
    pugi::xml_node root = document->document_element();
    if (!root) {
        return {};
    }
    return {std::move(document), root};
}

XmlNode XmlMessage::getXMLRootNodePtr(std::string_view xmlText) {
    try {
        XmlNode root = loadXmlDocument(xmlText);
        if (!root) {
            showMessage("retVal != VARIANT_TRUE == NULL");
        }
        return root;
    } catch (...) {
        writeLog("KRT", "kmKRTMgrXMLData::getXMLRootNodePtr()-1", "");
        return {};
    }
}

int XmlMessage::getXMLData(const XmlNode& node, std::span<char> buffer, int* length) {
    if (!node || length == nullptr) {
        writeLog("", "kmKRTMgrXMLData::getXMLData", "");
        return kErrInvalidArgs;
    }
    try {
        const std::string text = serializeNode(node.node());
        if (buffer.empty()) {
            *length = static_cast<int>(text.size());
            return kSuccess;
        }
        const std::size_t capacity = std::min<std::size_t>(buffer.size(), std::max(*length, 0));
        if (text.size() + 1 > capacity) {
            writeLog("", "kmKRTMgrXMLData::getXMLData", "");
            return kErrInvalidArgs;
        }
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        return kSuccess;
    } catch (...) {
        writeLog("KRT", "kmKRTMgrXMLData::getXMLData()-2", "");
        return kErrException;
    }
}

std::optional<std::string> XmlMessage::serialize(const XmlNode& node) {
    int length = 0;
    if (getXMLData(node, {}, &length) != kSuccess) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int capacity = length + 1;
    if (getXMLData(node, text, &capacity) != kSuccess) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace krt
