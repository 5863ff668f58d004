// The packets the service exchanges with the messenger server through the host: the frame header
// sent with every request, and the settings bodies of the fetch and the upload.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/marshal.h"

namespace microblog {

constexpr std::uint16_t kCommandFetchSettings = 1;
constexpr std::uint16_t kCommandUploadSettings = 2;

class LFrame : public tavi::Marshallable {
public:
    void marshal(tavi::Pack& pack) const override;
    void unmarshal(tavi::Unpack& unpack) override;

    std::uint32_t header = 0;
    std::uint16_t serviceId = 0;
    std::uint16_t command = 0;
    std::uint16_t reserved = 0;
    std::uint16_t code = 0;
    std::uint8_t flag = 0;
    std::string key; // at most 255 bytes in the system code page
    std::uint8_t secondFlag = 0;
    std::string secondText;
};

// A frame of the plug-in's service for a command: code 200, everything else zero or empty.
LFrame MakeSettingsFrame(std::uint16_t command);

class NamedProperty : public tavi::Property {
public:
    void marshal(tavi::Pack& pack) const override;
    void unmarshal(tavi::Unpack& unpack) override;
    std::ostream& trace(std::ostream& out) const override;

    std::string name;
};

class TaggedProperty : public NamedProperty {
public:
    void marshal(tavi::Pack& pack) const override;
    void unmarshal(tavi::Unpack& unpack) override;

    std::uint32_t timeTag = 0;
};

class TagRecord : public tavi::Marshallable {
public:
    void marshal(tavi::Pack& pack) const override;
    void unmarshal(tavi::Unpack& unpack) override;

    std::string text;
    std::uint32_t timeTag = 0;
};

} // namespace microblog
