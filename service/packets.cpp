#include "service/packets.h"

#include "service/settings.h"

namespace microblog {

void LFrame::marshal(tavi::Pack& pack) const {
    // The key is checked before anything is written, so a refused frame leaves the pack as it was.
    if (key.size() >= 256)
        throw new tavi::PackError("key too big");
    pack.push_uint32(header);
    pack.push_uint16(serviceId);
    pack.push_uint16(command);
    pack.push_uint16(reserved);
    pack.push_uint16(code);
    pack.push_uint8(flag);
    pack.push_text(key);
    pack.push_uint8(secondFlag);
    pack.push_text(secondText);
}

void LFrame::unmarshal(tavi::Unpack& unpack) {
    header = unpack.pop_uint32();
    serviceId = unpack.pop_uint16();
    command = unpack.pop_uint16();
    reserved = unpack.pop_uint16();
    code = unpack.pop_uint16();
    flag = unpack.pop_uint8();
    key = unpack.pop_text();
    secondFlag = unpack.pop_uint8();
    secondText = unpack.pop_text();
}

LFrame MakeSettingsFrame(std::uint16_t command) {
    LFrame frame;
    frame.serviceId = kServiceId;
    frame.command = command;
    frame.code = 200;
    return frame;
}

void NamedProperty::marshal(tavi::Pack& pack) const {
    pack.push_text(name);
    Property::marshal(pack);
}

void NamedProperty::unmarshal(tavi::Unpack& unpack) {
    name = unpack.pop_text();
    Property::unmarshal(unpack);
}

std::ostream& NamedProperty::trace(std::ostream& out) const {
    out << name << '\n';
    return Marshallable::trace(out);
}

void TaggedProperty::marshal(tavi::Pack& pack) const {
    pack.push_text(name);
    pack.push_uint32(timeTag);
    Property::marshal(pack);
}

void TaggedProperty::unmarshal(tavi::Unpack& unpack) {
    name = unpack.pop_text();
    timeTag = unpack.pop_uint32();
    Property::unmarshal(unpack);
}

void TagRecord::marshal(tavi::Pack& pack) const {
    pack.push_text(text);
    pack.push_uint32(timeTag);
}

void TagRecord::unmarshal(tavi::Unpack& unpack) {
    text = unpack.pop_text();
    timeTag = unpack.pop_uint32();
}

} // namespace microblog
