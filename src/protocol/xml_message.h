#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace krt {

// Replies that are parsed as XML are refused above this size: a hostile document of the
// largest frame would cost the parser hundreds of megabytes.
inline constexpr std::size_t kMaxXmlTextBytes = 4u << 20;

// An element (or a whole document) that keeps its document alive, so that it can be handed
// around like the DOM's reference-counted nodes.
class XmlNode {
  public:
    XmlNode() = default;
    XmlNode(std::shared_ptr<pugi::xml_document> document, pugi::xml_node node)
        : m_document(std::move(document)), m_node(node) {}

    explicit operator bool() const { return m_document && m_node; }
    const pugi::xml_node& node() const { return m_node; }
    std::string name() const { return m_node.name(); }
    // The text of the node; empty for a missing node.
    std::string text() const { return m_node.child_value(); }

    // The first child element of that name, or an empty node.
    XmlNode child(std::string_view name) const;
    // The text of the first child of that name; empty when it is missing.
    std::string childText(std::string_view name) const { return child(name).text(); }
    // That text as an integer, as the C library's decimal conversion reads it.
    int childInt(std::string_view name) const;
    // Every child element of that name, in document order.
    std::vector<XmlNode> children(std::string_view name) const;

    // Creates an element (with a text node when `text` is given) and appends it.
    XmlNode appendElement(std::string_view name, std::optional<std::string_view> text = {});
    XmlNode ownerDocument() const;

  private:
    std::shared_ptr<pugi::xml_document> m_document;
    pugi::xml_node m_node;
};

// Texts from the server are kept to this many bytes, as the fixed text areas of the client
// hold them.
inline constexpr std::size_t kMaxFieldTextBytes = 255;

// The text cut to at most `maxBytes`, never in the middle of a UTF-8 character.
std::string boundedUtf8(std::string text, std::size_t maxBytes = kMaxFieldTextBytes);

// True for non-empty text of blanks only, which a reader drops unless it comes as references.
bool isBlankOnly(std::string_view text);
// Every byte of the text as a decimal character reference.
std::string characterReferences(std::string_view text);

// Leading decimal digits with an optional sign, as atoi reads them (no digits yields 0);
// values beyond the range of int are clamped.
int parseLeadingInt(std::string_view text);

// Parses a reply or request text and returns its root element, or an empty node when the text
// is too large or not well-formed. Shows no message.
XmlNode loadXmlDocument(std::string_view text);

class XmlMessage {
  public:
    // As loadXmlDocument, but tells the operator when the text does not load.
    static XmlNode getXMLRootNodePtr(std::string_view xmlText);

    // Serialises the node. With an empty buffer, stores the text length (without terminator)
    // in `length`; otherwise copies the text and its terminator into the buffer, whose
    // capacity is `length`. Returns 1, or -10003 for an empty node, no length or a buffer too
    // small for the text.
    static int getXMLData(const XmlNode& node, std::span<char> buffer, int* length);

    // The serialised text, through the size query and the copy above.
    static std::optional<std::string> serialize(const XmlNode& node);
};

}  // namespace krt
