// Reads arbitrary bytes as a Property. Every failure must be one of the two packet errors, and
// whatever was read must write back to bytes that read as the same map.
#include <cstdint>
#include <cstdlib>

#include "host/marshal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavi::Property property;
    try {
        tavi::Unpack unpack(data, size);
        property.unmarshal(unpack);
    } catch (tavi::MarshalError* error) {
        bool known = error->GetCode() == tavi::UnpackError::kCode || error->GetCode() == tavi::PackError::kCode;
        delete error;
        if (!known)
            std::abort();
        return 0;
    }
    tavi::Pack pack;
    property.marshal(pack);
    tavi::Unpack again(pack.data(), pack.size());
    tavi::Property reread;
    reread.unmarshal(again);
    if (!(reread == property) || !again.empty())
        std::abort();
    return 0;
}
