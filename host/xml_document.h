// The host's XML document (Common library): an element tree that a plug-in builds and saves, such
// as the timeline page. Names and texts are given in the system code page; the document keeps and
// saves them as UTF-8.
#pragma once

#include <string>
#include <vector>

namespace tavi {

// An element of a CXmlDocument. Handles stay valid as long as their document, or, for a node made
// with CreateNode, until DeleteNode.
class CXmlNode;

class CXmlDocument {
public:
    CXmlDocument();
    virtual ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Adds the root element. Null when the document has one already or the name is not usable.
    CXmlNode* InsertEndChild(const std::string& name);
    // Appends a copy of node, with its attributes and children, as parent's last child and returns
    // the copy. The caller keeps its own node.
    CXmlNode* InsertEndChild(CXmlNode* parent, const CXmlNode* node);
    // The first element along a '/'-separated path of element names starting at the root
    // ("VEDIDE", "VEDIDE/uinfo"); null when there is none.
    CXmlNode* PathWalk(const std::string& path);

    // A new element outside the tree, owned by the caller, who gives it back with DeleteNode (the
    // document frees what is left at its end). Null when the name is not usable.
    CXmlNode* CreateNode(const std::string& name);
    void DeleteNode(CXmlNode* node);

    // Sets (or replaces) an attribute. False, and nothing set, when the name is not usable.
    bool SetNodeAttribute(CXmlNode* node, const std::string& name, const std::string& value);
    // Empty when the node has no such attribute.
    std::string GetNodeAttribute(const CXmlNode* node, const std::string& name) const;
    // Replaces the node's children by one text.
    bool SetNodeText(CXmlNode* node, const std::string& text);

    // Writes the element tree in UTF-8 without an XML declaration, so that a caller may put its own
    // header in front. False when the file could not be written.
    bool SaveFile(const std::string& path);
    // The same bytes as SaveFile writes.
    bool SaveToString(std::string& out);

    // A name is usable when it is an XML name without a namespace prefix, other than "xmlns": so a
    // saved document is always well-formed whatever names a caller passes on.
    static bool IsUsableName(const std::string& utf8Name);

private:
    // The UTF-8 form of narrow text: the text itself when it is ASCII, else its conversion, made
    // in `converted`.
    const std::string& ToUtf8(const std::string& narrow, std::string& converted);
    // The same, with what XML 1.0 cannot carry replaced.
    const std::string& TextToUtf8(const std::string& narrow, std::string& converted);

    // Forgets which element attributes were last appended to (see SetNodeAttribute).
    void ForgetAppendTarget() {
        appendTarget_ = nullptr;
        appendLastName_ = nullptr;
    }

    void* doc_;
    std::vector<void*> looseNodes_;
    // The element whose every attribute was set here, in increasing byte order of names, since it
    // had none, and the greatest of those names (held by the element): a greater name cannot be on
    // it yet, so it is appended without a search.
    void* appendTarget_ = nullptr;
    const void* appendLastName_ = nullptr;
};

} // namespace tavi
