// Reading the page back in the data room's tests: strict XML parsing that counts every error
// libxml2 reports, element and attribute access, and the stylesheet applied as the browser does.
#pragma once

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>
#include <string>
#include <vector>

namespace datatest {

struct XmlErrors {
    int count = 0;
    std::string first;
    static void Record(void* context, xmlErrorPtr error) {
        auto* errors = static_cast<XmlErrors*>(context);
        if (errors->count++ == 0 && error && error->message)
            errors->first = error->message;
    }
};

struct DocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

// Parses XML; null on a fatal error. Every error, fatal or not (namespaces too), is counted.
inline Doc ParseXml(const std::string& bytes, XmlErrors& errors, const char* url = "page.xml") {
    xmlSetStructuredErrorFunc(&errors, &XmlErrors::Record);
    Doc doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url, nullptr, XML_PARSE_NONET));
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    return doc;
}

inline Doc ParseHtml(const std::string& bytes, XmlErrors& errors) {
    xmlSetStructuredErrorFunc(&errors, &XmlErrors::Record);
    Doc doc(htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "page.html", "UTF-8",
                           HTML_PARSE_NONET | HTML_PARSE_NOBLANKS));
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    return doc;
}

inline std::vector<xmlNodePtr> ChildElements(xmlNodePtr node) {
    std::vector<xmlNodePtr> children;
    for (xmlNodePtr child = node ? node->children : nullptr; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            children.push_back(child);
    return children;
}

inline std::string Name(xmlNodePtr node) {
    return reinterpret_cast<const char*>(node->name);
}

inline std::vector<std::string> ChildNames(xmlNodePtr node) {
    std::vector<std::string> names;
    for (xmlNodePtr child : ChildElements(node))
        names.push_back(Name(child));
    return names;
}

// Attribute names in document order.
inline std::vector<std::string> AttributeNames(xmlNodePtr node) {
    std::vector<std::string> names;
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
        names.push_back(reinterpret_cast<const char*>(attribute->name));
    return names;
}

inline bool HasAttribute(xmlNodePtr node, const char* name) {
    return xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

inline std::string Attribute(xmlNodePtr node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

inline std::string Text(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

// Every element with the name below node, in document order.
inline void Collect(xmlNodePtr node, const char* name, std::vector<xmlNodePtr>& found) {
    for (xmlNodePtr child = node ? node->children : nullptr; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (Name(child) == name)
            found.push_back(child);
        Collect(child, name, found);
    }
}

// Applies the stylesheet the page names in its processing instruction, as the browser control
// does, and returns the HTML text; empty when the stylesheet cannot be loaded or applied.
inline std::string TransformPage(const std::string& pagePath) {
    Doc page(xmlReadFile(pagePath.c_str(), nullptr, XML_PARSE_NONET));
    if (!page)
        return std::string();
    xsltStylesheetPtr sheet = xsltLoadStylesheetPI(page.get());
    if (sheet == nullptr)
        return std::string();
    Doc result(xsltApplyStylesheet(sheet, page.get(), nullptr));
    std::string html;
    if (result) {
        xmlChar* text = nullptr;
        int length = 0;
        if (xsltSaveResultToString(&text, &length, result.get(), sheet) == 0 && text)
            html.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
        xmlFree(text);
    }
    xsltFreeStylesheet(sheet);
    return html;
}

} // namespace datatest
