#include "protocol/xml_message.h"

#include <gtest/gtest.h>
#include <climits>

#include "protocol/message_sink.h"
#include "protocol/requests.h"
#include "protocol/return_codes.h"
#include "support/log_capture.h"

namespace krt {
namespace {

// Captures what would be shown to the operator.
class MessageCapture {
  public:
    MessageCapture() {
        setMessageSink([this](std::string_view text) { m_messages.emplace_back(text); });
    }
    ~MessageCapture() { setMessageSink({}); }
    const std::vector<std::string>& messages() const { return m_messages; }

  private:
    std::vector<std::string> m_messages;
};

TEST(GetXMLData, SerialisesABuiltRequestWithoutWhitespace) {
    XmlNode root = newRequestDocument("validateuser");
    const std::string expected = "<kmRequest><kmRequestID>validateuser</kmRequestID></kmRequest>";
    int length = 0;
    ASSERT_EQ(XmlMessage::getXMLData(root, {}, &length), kSuccess);
    EXPECT_EQ(length, static_cast<int>(expected.size()));

    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, 'z');
    int capacity = length + 1;
    ASSERT_EQ(XmlMessage::getXMLData(root, buffer, &capacity), kSuccess);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(capacity, length + 1);
    EXPECT_EQ(XmlMessage::serialize(root.ownerDocument()), expected);
}

TEST(GetXMLData, BuildsNestedRequestDataThroughTheDocument) {
    XmlNode root = newRequestDocument("setalarmnotifications");
    XmlNode data = root.appendElement("kmRequestData");
    data.appendElement("UserName", "a<b&c");
    data.appendElement("Empty");
    EXPECT_EQ(XmlMessage::serialize(root.ownerDocument()),
              "<kmRequest><kmRequestID>setalarmnotifications</kmRequestID><kmRequestData>"
              "<UserName>a&lt;b&amp;c</UserName><Empty/></kmRequestData></kmRequest>");
}

TEST(GetXMLData, RefusesMissingArguments) {
    test::LogCapture log;
    int length = 0;
    EXPECT_EQ(XmlMessage::getXMLData(XmlNode(), {}, &length), kErrInvalidArgs);
    EXPECT_EQ(XmlMessage::getXMLData(newRequestDocument("x"), {}, nullptr), kErrInvalidArgs);
    std::array<char, 8> small{};
    int capacity = static_cast<int>(small.size());
    EXPECT_EQ(XmlMessage::getXMLData(newRequestDocument("validateuser"), small, &capacity),
              kErrInvalidArgs);
    EXPECT_EQ(log.count("\n"), 3);
    EXPECT_TRUE(log.contains(" - -kmKRTMgrXMLData::getXMLData--"));
}

TEST(GetXMLRootNodePtr, ReadsReplyFieldsByName) {
    MessageCapture shown;
    const XmlNode root = XmlMessage::getXMLRootNodePtr(
        "<kmResponse><kmReturnCode>1</kmReturnCode><kmDescription>MobileClient-02-00-01"
        "</kmDescription><kmResponseData><ChannelID>7</ChannelID><ChannelID>8</ChannelID>"
        "</kmResponseData></kmResponse>");
    ASSERT_TRUE(root);
    EXPECT_EQ(root.childInt("kmReturnCode"), 1);
    EXPECT_EQ(root.childText("kmDescription"), "MobileClient-02-00-01");
    std::vector<std::string> ids;
    for (const XmlNode& id : root.child("kmResponseData").children("ChannelID")) {
        ids.push_back(id.text());
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"7", "8"}));
    EXPECT_EQ(root.childText("Missing"), "");
    EXPECT_EQ(root.childInt("Missing"), 0);
    EXPECT_TRUE(root.child("Missing").children("ChannelID").empty());
    EXPECT_TRUE(shown.messages().empty());
}

TEST(GetXMLRootNodePtr, TellsTheOperatorWhenTheTextDoesNotLoad) {
    const std::vector<std::string> bad = {"<kmResponse><open></kmResponse>", "", "not xml",
                                          "<a>" + std::string(kMaxXmlTextBytes, ' ') + "</a>"};
    for (const std::string& text : bad) {
        MessageCapture shown;
        EXPECT_FALSE(XmlMessage::getXMLRootNodePtr(text));
        EXPECT_EQ(shown.messages(), std::vector<std::string>{"retVal != VARIANT_TRUE == NULL"});
    }
}

TEST(LoadXmlDocument, KeepsTheDocumentAliveThroughItsNodes) {
    XmlNode child;
    {
        const XmlNode root = loadXmlDocument("<r><c>kept</c></r>");
        child = root.child("c");
    }
    EXPECT_EQ(child.text(), "kept");
    EXPECT_EQ(child.ownerDocument().child("r").childText("c"), "kept");
}

TEST(ParseLeadingInt, ReadsAsTheCLibraryDoes) {
    struct Case {
        const char* text;
        int value;
    };
    for (const Case c :
         {Case{"42", 42}, Case{"  -7x", -7}, Case{"+5", 5}, Case{"abc", 0}, Case{"", 0},
          Case{"12abc34", 12}, Case{"-10011", -10011}, Case{"99999999999", INT_MAX},
          Case{"-99999999999", INT_MIN}, Case{"1.9", 1}, Case{"- 3", 0}}) {
        EXPECT_EQ(parseLeadingInt(c.text), c.value) << c.text;
    }
}

TEST(BoundedUtf8, CutsServerTextsWithoutSplittingACharacter) {
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string kept;
    };
    const std::vector<Case> cases = {
        {"Gate", 4, "Gate"},
        {"Gates", 4, "Gate"},
        {"ab\xC3\xA4", 3, "ab"},          // a two-byte character that does not fit
        {"ab\xC3\xA4", 4, "ab\xC3\xA4"},  // ... and one that does
        {"\xE2\x82\xAC\xE2\x82\xAC", 5, "\xE2\x82\xAC"},
        {"", 0, ""},
        // Continuation bytes with no character to start them are cut as bytes, never emptied.
        {std::string(6, '\xA0'), 4, std::string(4, '\xA0')},
        {"ab\xA0\xA0", 3, "ab\xA0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(boundedUtf8(c.text, c.maxBytes), c.kept) << c.text;
    }
    EXPECT_EQ(boundedUtf8(std::string(300, 'x')).size(), kMaxFieldTextBytes);
}

TEST(RequestTexts, MatchTheTemplatesByteForByte) {
    EXPECT_EQ(versionRequest(),
              "<kmRequest>\t\t\t<kmRequestID>getMobileClientCommunicationVersion</kmRequestID>"
              "\t\t\t<kmRequestData/></kmRequest>");
    EXPECT_EQ(channelListRequest("oper"),
              "<kmRequest>\t\t\t<kmRequestID>getAuthorizedChannelsIDList</kmRequestID>\t\t\t"
              "<kmRequestData><UserName>oper</UserName></kmRequestData></kmRequest>");
    EXPECT_EQ(channelRequest("getCameraPTZStatus", "7"),
              "<kmRequest>\t\t\t<kmRequestID>getCameraPTZStatus</kmRequestID>\t\t\t"
              "<kmRequestData>\t\t\t\t<kmChannelID>7</kmChannelID>\t\t\t</kmRequestData>"
              "</kmRequest>");
    EXPECT_EQ(ptzRequest("oper", "Gate", 26),
              "<kmRequest>\t\t\t<kmRequestID>PTZCommand2</kmRequestID>\t\t\t<kmRequestData>"
              "\t\t\t\t<UserName>oper</UserName>\t\t\t\t<kmChannelID>Gate</kmChannelID>"
              "\t\t\t\t<kmPTZCommand>26</kmPTZCommand>\t\t\t</kmRequestData></kmRequest>");
    EXPECT_EQ(liveVideoRequest(LiveResolution::Low, "7"),
              "<kmRequest><kmRequestID>getLowResolutionLiveVideo</kmRequestID>"
              "<kmRequestParam>7</kmRequestParam><kmRequestData/></kmRequest>");
    EXPECT_EQ(liveVideoRequest(LiveResolution::Medium, "7"),
              "<kmRequest><kmRequestID>getMediumResolutionLiveVideo</kmRequestID>"
              "<kmRequestParam>7</kmRequestParam><kmRequestData/></kmRequest>");
}

TEST(RequestTexts, EscapeValuesSoThatTheEnvelopeStaysWellFormed) {
    const std::string text = channelRequest("getVideoChannelDetails", "</kmChannelID><x>&");
    const XmlNode root = loadXmlDocument(text);
    ASSERT_TRUE(root);
    EXPECT_EQ(root.child("kmRequestData").childText("kmChannelID"), "</kmChannelID><x>&");
    EXPECT_EQ(
        loadXmlDocument(ptzRequest("a&b", "<", 2)).child("kmRequestData").childText("UserName"),
        "a&b");
}

// A reader turns a literal carriage return in text into a line feed, so a value received
// with one must be written as a reference to reach the server unchanged.
const std::vector<std::string> kCarriageReturnTexts = {"a\rb", "\r", "x\r\ny\r", "\r\r\n"};

TEST(RequestTexts, CarriageReturnsReachTheServerUnchanged) {
    for (const std::string& value : kCarriageReturnTexts) {
        const std::string text = channelRequest("getCameraPTZStatus", value);
        EXPECT_EQ(text.find('\r'), std::string::npos);
        EXPECT_EQ(loadXmlDocument(text).child("kmRequestData").childText("kmChannelID"), value);
    }
}

TEST(RequestTexts, BlankOnlyValuesReachTheServerUnchanged) {
    for (const std::string value : {" ", "\n", "\t \n", "\r\n "}) {
        const std::string text = channelRequest("getVideoChannelDetails", value);
        EXPECT_EQ(loadXmlDocument(text).child("kmRequestData").childText("kmChannelID"), value);
    }
}

TEST(GetXMLData, WritesCarriageReturnsInTextAsReferences) {
    for (const std::string& value : kCarriageReturnTexts) {
        XmlNode root = newRequestDocument("getAlarmImage");
        root.appendElement("kmRequestData").appendElement("kmAlarmName", value);
        const std::optional<std::string> text = XmlMessage::serialize(root.ownerDocument());
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(text->find('\r'), std::string::npos) << *text;
        EXPECT_EQ(loadXmlDocument(*text).child("kmRequestData").childText("kmAlarmName"), value);
    }
}

// A reader drops text of blanks only, so it is written as references, with the attributes and
// the neighbours of the element kept.
TEST(GetXMLData, WritesBlankOnlyTextAsReferences) {
    for (const std::string value : {" ", "\n", "\t \n", "\r\n "}) {
        const XmlNode root = loadXmlDocument(R"(<a k="1&amp;2"><b>x</b><c/></a>)");
        ASSERT_TRUE(root);
        XmlNode(root).child("c").appendElement("kmAlarmName", value);
        const std::optional<std::string> text = XmlMessage::serialize(root.ownerDocument());
        ASSERT_TRUE(text.has_value());
        const XmlNode back = loadXmlDocument(*text);
        EXPECT_EQ(back.child("c").childText("kmAlarmName"), value) << *text;
        EXPECT_EQ(back.childText("b"), "x");
        EXPECT_STREQ(back.node().attribute("k").value(), "1&2");
    }
}

// CDATA can hold no reference; a document with a carriage return there is written as it is.
TEST(GetXMLData, LeavesADocumentWithACarriageReturnInCdataAsItIs) {
    const XmlNode root = loadXmlDocument("<a>z&#13;</a>");
    ASSERT_TRUE(root);
    pugi::xml_node element = root.node();
    element.append_child(pugi::node_cdata).set_value("x\ry");
    EXPECT_EQ(XmlMessage::serialize(root), "<a>z\r<![CDATA[x\ry]]></a>");
}

}  // namespace
}  // namespace krt
