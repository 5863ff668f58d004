// The host's XML document as the page writer uses it.
#include <gtest/gtest.h>

#include "host/common.h"
#include "host/xml_document.h"
#include "tests/data/xml_support.h"
#include "tests/support/test_env.h"

namespace {

using namespace datatest;

class XmlDocument : public ::testing::Test {
protected:
    void SetUp() override { tavi::SetSystemCodePage("GB18030"); }
    tavi::CXmlDocument doc;
};

TEST_F(XmlDocument, SavesUtf8WithoutDeclaration) {
    tavi::CXmlNode* root = doc.InsertEndChild("VEDIDE");
    ASSERT_NE(root, nullptr);
    tavi::CXmlNode* node = doc.CreateNode("uinfo");
    tavi::CXmlNode* added = doc.InsertEndChild(root, node);
    doc.DeleteNode(node);
    ASSERT_NE(added, nullptr);
    EXPECT_TRUE(doc.SetNodeAttribute(added, "name", tavi::utf8_to_CString("演示 😀")));
    testenv::ScratchDir scratch("tavi-xml");
    std::string path = scratch.path() + "/tree.xml";
    ASSERT_TRUE(doc.SaveFile(path));
    std::string saved = testenv::ReadFile(path);
    EXPECT_EQ(saved, "<VEDIDE>\n  <uinfo name=\"演示 😀\"/>\n</VEDIDE>\n");
    std::string same;
    ASSERT_TRUE(doc.SaveToString(same));
    EXPECT_EQ(same, saved);
}

TEST_F(XmlDocument, AttributeValuesAreTextNeverMarkup) {
    tavi::CXmlNode* root = doc.InsertEndChild("r");
    ASSERT_TRUE(doc.SetNodeAttribute(root, "v", "a&amp;<b>\"c\"\n\tline"));
    ASSERT_TRUE(doc.SetNodeAttribute(root, "v2", "first"));
    ASSERT_TRUE(doc.SetNodeAttribute(root, "v2", "second"));
    std::string saved;
    ASSERT_TRUE(doc.SaveToString(saved));
    XmlErrors errors;
    Doc parsed = ParseXml(saved, errors);
    ASSERT_TRUE(parsed) << saved;
    xmlNodePtr element = xmlDocGetRootElement(parsed.get());
    EXPECT_EQ(Attribute(element, "v"), "a&amp;<b>\"c\"\n\tline");
    EXPECT_EQ(Attribute(element, "v2"), "second");
    EXPECT_EQ(AttributeNames(element), (std::vector<std::string>{"v", "v2"}));
    EXPECT_EQ(doc.GetNodeAttribute(root, "v2"), "second");
}

TEST_F(XmlDocument, InsertedNodeIsACopy) {
    tavi::CXmlNode* root = doc.InsertEndChild("r");
    tavi::CXmlNode* own = doc.CreateNode("item");
    ASSERT_TRUE(doc.SetNodeAttribute(own, "k", "before"));
    tavi::CXmlNode* first = doc.InsertEndChild(root, own);
    ASSERT_TRUE(doc.SetNodeAttribute(own, "k", "after"));
    tavi::CXmlNode* second = doc.InsertEndChild(root, own);
    doc.DeleteNode(own);
    ASSERT_NE(first, second);
    EXPECT_EQ(doc.GetNodeAttribute(first, "k"), "before");
    EXPECT_EQ(doc.GetNodeAttribute(second, "k"), "after");
    EXPECT_EQ(doc.PathWalk("r"), root);
    EXPECT_EQ(doc.PathWalk("r/item"), first);
    EXPECT_EQ(doc.PathWalk("r/none"), nullptr);
    EXPECT_EQ(doc.PathWalk("other"), nullptr);
    // Nodes the caller did not give back are freed with the document (checked by the leak checker).
    doc.CreateNode("forgotten");
}

TEST_F(XmlDocument, RefusesNamesThatWouldBreakTheDocument) {
    EXPECT_EQ(doc.CreateNode("a b"), nullptr);
    EXPECT_EQ(doc.CreateNode(""), nullptr);
    EXPECT_EQ(doc.CreateNode("1abc"), nullptr);
    EXPECT_EQ(doc.InsertEndChild("x:y"), nullptr);
    tavi::CXmlNode* root = doc.InsertEndChild("r");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(doc.InsertEndChild("second"), nullptr);
    for (const char* name : {"", "a b", "a:b", "xmlns", "<x", "a\"b", "-a"})
        EXPECT_FALSE(doc.SetNodeAttribute(root, name, "v")) << name;
    EXPECT_TRUE(doc.SetNodeAttribute(root, tavi::utf8_to_CString("名字"), "v"));
    EXPECT_TRUE(doc.SetNodeAttribute(root, "_a-b.c1", "v"));
    std::string saved;
    ASSERT_TRUE(doc.SaveToString(saved));
    XmlErrors errors;
    EXPECT_TRUE(ParseXml(saved, errors));
    EXPECT_EQ(errors.count, 0) << errors.first;
}

TEST_F(XmlDocument, TextNodesAndSaveFailures) {
    tavi::CXmlNode* root = doc.InsertEndChild("r");
    ASSERT_TRUE(doc.SetNodeText(root, "x < y & \x01"));
    ASSERT_TRUE(doc.SetNodeText(root, "only <this>"));
    std::string saved;
    ASSERT_TRUE(doc.SaveToString(saved));
    EXPECT_EQ(saved, "<r>only &lt;this&gt;</r>\n");
    EXPECT_FALSE(doc.SaveFile("/nonexistent-folder/for/sure/tree.xml"));
    EXPECT_FALSE(doc.SaveFile(""));
}

TEST_F(XmlDocument, ControlByteAnywhereInALongPlainTextIsRepaired) {
    // The plain-text check reads whole words of printable bytes: a control byte at any offset,
    // at a word's start, inside it or in the tail after the last whole word, must still be found.
    tavi::CXmlNode* root = doc.InsertEndChild("r");
    for (std::size_t at = 0; at < 21; ++at) {
        std::string text(21, 'a');
        text[at] = '\x1f';
        ASSERT_TRUE(doc.SetNodeText(root, text));
        ASSERT_TRUE(doc.SetNodeAttribute(root, "v", text));
        std::string saved;
        ASSERT_TRUE(doc.SaveToString(saved));
        XmlErrors errors;
        EXPECT_TRUE(ParseXml(saved, errors)) << at;
        EXPECT_EQ(errors.count, 0) << at << ": " << errors.first;
    }
}

} // namespace
