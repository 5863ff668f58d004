// The host's binary packet primitives: a block-growing writer, a bounds-checked reader, the two
// packet errors, and Property, the key-to-bytes map that plug-ins and the host hand to each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

namespace tavi {

// Base of the packet errors. They are created on the heap and thrown by pointer; whoever catches
// one deletes it.
class MarshalError {
public:
    MarshalError(std::string message, int code) : message_(std::move(message)), code_(code) {}
    virtual ~MarshalError() = default;
    const std::string& GetMessage() const { return message_; }
    int GetCode() const { return code_; }

private:
    std::string message_;
    int code_;
};

class PackError : public MarshalError {
public:
    static constexpr int kCode = 999;
    explicit PackError(std::string message) : MarshalError(std::move(message), kCode) {}
};

class UnpackError : public MarshalError {
public:
    static constexpr int kCode = 998;
    explicit UnpackError(std::string message) : MarshalError(std::move(message), kCode) {}
};

// Growable byte area allocated in whole blocks of 16384 bytes.
struct BlockBuffer {
    static constexpr std::size_t kBlockSize = 16384;
    static constexpr std::size_t kMaxBlocks = 65536; // 1 GiB

    char* data = nullptr;
    std::size_t used = 0;
    std::size_t blocks = 0;

    BlockBuffer() = default;
    BlockBuffer(const BlockBuffer&) = delete;
    BlockBuffer& operator=(const BlockBuffer&) = delete;
    ~BlockBuffer();

    std::size_t Capacity() const { return blocks * kBlockSize; }
    // False when the buffer would exceed its limit or memory runs out; the contents stay intact.
    bool Append(const void* bytes, std::size_t n);
};

// Little-endian writer. Every failure throws a PackError by pointer.
class Pack {
public:
    void append(const void* bytes, std::size_t n);
    void push_uint8(std::uint8_t value) { append(&value, 1); }
    void push_uint16(std::uint16_t value);
    void push_uint32(std::uint32_t value);
    void push_varstr(const void* bytes, std::size_t n);
    void push_varstr(const std::string& bytes) { push_varstr(bytes.data(), bytes.size()); }
    // Narrow text in the system code page, written as UTF-8 in a varstr.
    void push_text(const std::string& text);

    const char* data() const { return buffer_.data; }
    std::size_t size() const { return buffer_.used; }
    std::size_t blocks() const { return buffer_.blocks; }
    std::string str() const { return std::string(buffer_.data ? buffer_.data : "", buffer_.used); }

private:
    BlockBuffer buffer_;
};

// Little-endian reader over bytes it does not own, unless constructed with a string it keeps.
// A read past the end throws an UnpackError by pointer and leaves the position unchanged.
class Unpack {
public:
    Unpack(const void* bytes, std::size_t n) : position_(static_cast<const char*>(bytes)), remaining_(n) {}
    explicit Unpack(std::string owned)
        : owned_(std::move(owned)), position_(owned_.data()), remaining_(owned_.size()) {}
    Unpack(const Unpack&) = delete;
    Unpack& operator=(const Unpack&) = delete;

    std::uint8_t pop_uint8();
    std::uint16_t pop_uint16();
    std::uint32_t pop_uint32();
    const char* pop_fetch_ptr(std::size_t n);
    std::string pop_varstr();
    std::string pop_text();

    std::size_t size() const { return remaining_; }
    bool empty() const { return remaining_ == 0; }
    const char* data() const { return position_; }

private:
    std::string owned_;
    const char* position_;
    std::size_t remaining_;
};

// A packet writes itself into a Pack and reads itself from an Unpack.
class Marshallable {
public:
    virtual void marshal(Pack& pack) const = 0;
    virtual void unmarshal(Unpack& unpack) = 0;
    virtual ~Marshallable() = default;
    virtual std::ostream& trace(std::ostream& out) const;
};

// Map from a 32-bit key to a byte string, ordered by key. Texts are kept as UTF-8 and integers in
// the host's 4-byte form; the accessors convert from and to the system code page.
class Property : public Marshallable {
public:
    using Map = std::map<std::uint32_t, std::string>;

    Property() = default;
    Property(const Property&) = default;
    Property& operator=(const Property&) = default;
    explicit Property(Map entries) : entries_(std::move(entries)) {}

    void marshal(Pack& pack) const override;
    void unmarshal(Unpack& unpack) override;
    virtual void Merge(const Map& other);
    virtual void RemoveEqual(const Property& other);
    void Merge(const Property& other) { Merge(other.entries_); }

    void SetString(std::uint32_t key, const std::string& narrow);
    void SetInteger(std::uint32_t key, int value);
    void SetBytes(std::uint32_t key, std::string bytes) { entries_[key] = std::move(bytes); }
    std::string GetString(std::uint32_t key) const;
    int GetInteger(std::uint32_t key) const;
    bool Has(std::uint32_t key) const { return entries_.count(key) != 0; }
    void Erase(std::uint32_t key) { entries_.erase(key); }
    void Clear() { entries_.clear(); }

    const Map& GetMap() const { return entries_; }
    Map& GetMap() { return entries_; }
    std::size_t Size() const { return entries_.size(); }
    bool operator==(const Property& other) const { return entries_ == other.entries_; }

private:
    Map entries_;
};

} // namespace tavi
