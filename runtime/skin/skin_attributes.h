// Reading the attributes of a build node: texts (literal or by string id), bounds, numbers and
// flags, each with a clear error for a malformed value.
#pragma once

#include <string>

#include "host/skin_manager.h"
#include "host/skin_object.h"

namespace tavi::runtime {

class SkinAttributes {
public:
    explicit SkinAttributes(const SkinBuildNode& node) : node_(node) {}

    // The text of the attribute idName (a string id looked up in the string table) or, when that
    // is absent or unknown, of the literal attribute, in the system code page. False when neither
    // is there.
    bool Text(const char* literalName, const char* idName, std::string& text) const;
    // "x,y,width,height"; absent leaves the value.
    bool Bounds(const char* name, SkinBounds& bounds, std::string& error) const;
    // Decimal or 0x hexadecimal; absent leaves the value.
    bool Integer(const char* name, int& value, std::string& error) const;
    // 1/0, true/false, yes/no; absent leaves the value.
    bool Flag(const char* name, bool& value, std::string& error) const;
    // A file named relative to the build file's folder (or a named image of the skin).
    std::string File(const char* name) const;

private:
    const SkinBuildNode& node_;
};

bool ParseSkinInteger(const std::string& text, int& value);
// "#RRGGBB" as a COLORREF (0x00BBGGRR).
bool ParseSkinColor(const std::string& text, unsigned& color);

} // namespace tavi::runtime
