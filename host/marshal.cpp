#include "host/marshal.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/common.h"

namespace tavi {

BlockBuffer::~BlockBuffer() { std::free(data); }

bool BlockBuffer::Append(const void* bytes, std::size_t n) {
    if (n == 0)
        return true;
    if (Capacity() - used < n) {
        std::size_t needed = (used + n + kBlockSize - 1) / kBlockSize;
        if (used + n < used || needed > kMaxBlocks)
            return false;
        char* grown = static_cast<char*>(std::malloc(needed * kBlockSize));
        if (grown == nullptr)
            return false;
        if (data != nullptr) {
            std::memcpy(grown, data, used);
            std::free(data);
        }
        data = grown;
        blocks = needed;
    }
    std::memcpy(data + used, bytes, n);
    used += n;
    return true;
}

void Pack::append(const void* bytes, std::size_t n) {
    if (!buffer_.Append(bytes, n))
        throw new PackError("append buffer overflow");
}

void Pack::push_uint16(std::uint16_t value) {
    unsigned char bytes[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
    append(bytes, sizeof(bytes));
}

void Pack::push_uint32(std::uint32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    append(bytes, sizeof(bytes));
}

void Pack::push_varstr(const void* bytes, std::size_t n) {
    if (n >= 65536)
        throw new PackError("push_varstr: varstr too big");
    push_uint16(static_cast<std::uint16_t>(n));
    append(bytes, n);
}

void Pack::push_text(const std::string& text) { push_varstr(CString_to_utf8(text)); }

std::uint8_t Unpack::pop_uint8() {
    if (remaining_ < 1)
        throw new UnpackError("pop_uint8: not enough data");
    std::uint8_t value = static_cast<unsigned char>(position_[0]);
    position_ += 1;
    remaining_ -= 1;
    return value;
}

std::uint16_t Unpack::pop_uint16() {
    if (remaining_ < 2)
        throw new UnpackError("pop_uint16: not enough data");
    auto b = reinterpret_cast<const unsigned char*>(position_);
    std::uint16_t value = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    position_ += 2;
    remaining_ -= 2;
    return value;
}

std::uint32_t Unpack::pop_uint32() {
    if (remaining_ < 4)
        throw new UnpackError("pop_uint32: not enough data");
    auto b = reinterpret_cast<const unsigned char*>(position_);
    std::uint32_t value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                          (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    position_ += 4;
    remaining_ -= 4;
    return value;
}

const char* Unpack::pop_fetch_ptr(std::size_t n) {
    if (remaining_ < n)
        throw new UnpackError("pop_fetch_ptr: not enough data");
    const char* at = position_;
    position_ += n;
    remaining_ -= n;
    return at;
}

std::string Unpack::pop_varstr() {
    std::size_t n = pop_uint16();
    const char* at = pop_fetch_ptr(n);
    return std::string(at, n);
}

std::string Unpack::pop_text() { return utf8_to_CString(pop_varstr()); }

std::ostream& Marshallable::trace(std::ostream& out) const {
    return out << "trace Marshallable [ not immplement ]";
}

void Property::marshal(Pack& pack) const {
    pack.push_uint32(static_cast<std::uint32_t>(entries_.size()));
    for (const auto& [key, value] : entries_) {
        pack.push_uint32(key);
        pack.push_varstr(value);
    }
}

void Property::unmarshal(Unpack& unpack) {
    std::uint32_t count = unpack.pop_uint32();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t key = unpack.pop_uint32();
        entries_[key] = unpack.pop_varstr();
    }
}

void Property::Merge(const Map& other) {
    for (const auto& [key, value] : other)
        entries_[key] = value;
}

void Property::RemoveEqual(const Property& other) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        auto found = other.entries_.find(it->first);
        if (found != other.entries_.end() && found->second == it->second)
            it = entries_.erase(it);
        else
            ++it;
    }
}

void Property::SetString(std::uint32_t key, const std::string& narrow) { entries_[key] = CString_to_utf8(narrow); }

void Property::SetInteger(std::uint32_t key, int value) { entries_[key] = Int2Bytes(value); }

std::string Property::GetString(std::uint32_t key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? std::string() : utf8_to_CString(found->second);
}

int Property::GetInteger(std::uint32_t key) const {
    auto found = entries_.find(key);
    return found == entries_.end() ? -1 : Bytes2Int(found->second);
}

} // namespace tavi
