// The packet primitives: byte layout, limits and the errors thrown at each limit.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "host/common.h"
#include "host/marshal.h"

namespace {

using tavi::MarshalError;
using tavi::Pack;
using tavi::PackError;
using tavi::Property;
using tavi::Unpack;
using tavi::UnpackError;

// Runs the call and returns the error it threw by pointer (owned by the caller), or null.
template <class Error, class Call> std::unique_ptr<Error> Thrown(Call call) {
    try {
        call();
    } catch (Error* error) {
        return std::unique_ptr<Error>(error);
    }
    return nullptr;
}

TEST(Pack, WritesIntegersLittleEndianWithoutPadding) {
    Pack pack;
    pack.push_uint8(0x01);
    pack.push_uint16(0x0302);
    pack.push_uint32(0x07060504);
    EXPECT_EQ(pack.str(), std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
}

TEST(Pack, VarstrAtTheLengthLimitIsWrittenAndOneMoreIsRefused) {
    Pack pack;
    pack.push_varstr(std::string(65535, 'x'));
    ASSERT_EQ(pack.size(), 65537u);
    EXPECT_EQ(static_cast<unsigned char>(pack.data()[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(pack.data()[1]), 0xFF);

    Pack refused;
    auto error = Thrown<PackError>([&] { refused.push_varstr(std::string(65536, 'x')); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetMessage(), "push_varstr: varstr too big");
    EXPECT_EQ(error->GetCode(), 999);
    EXPECT_EQ(refused.size(), 0u);
}

TEST(Pack, GrowsInWholeBlocks) {
    Pack pack;
    pack.push_uint8(1);
    EXPECT_EQ(pack.blocks(), 1u);

    Pack large;
    large.append(std::string(16385, 'a').data(), 16385);
    EXPECT_EQ(large.blocks(), 2u);
    EXPECT_EQ(large.size(), 16385u);

    // Growth keeps what was written before.
    Pack growing;
    growing.append(std::string(16384, 'b').data(), 16384);
    EXPECT_EQ(growing.blocks(), 1u);
    growing.push_uint8('c');
    EXPECT_EQ(growing.blocks(), 2u);
    EXPECT_EQ(growing.str(), std::string(16384, 'b') + "c");
}

TEST(Pack, BufferOverOneGibibyteIsRefusedAndKeepsItsContents) {
    tavi::BlockBuffer buffer;
    ASSERT_TRUE(buffer.Append("abc", 3));
    // Ask for more than the 65536 blocks allowed; nothing is allocated for it.
    std::size_t tooMuch = tavi::BlockBuffer::kMaxBlocks * tavi::BlockBuffer::kBlockSize;
    EXPECT_FALSE(buffer.Append("x", tooMuch));
    EXPECT_EQ(buffer.used, 3u);
    EXPECT_EQ(std::string(buffer.data, 3), "abc");
}

struct ShortRead {
    const char* name;
    std::size_t available;
    const char* message;
};

class UnpackShortRead : public ::testing::TestWithParam<ShortRead> {};

TEST_P(UnpackShortRead, ThrowsItsOwnMessageAndKeepsThePosition) {
    const ShortRead& c = GetParam();
    std::string bytes(c.available, '\x7f');
    Unpack unpack(bytes.data(), bytes.size());
    std::string which = c.name;
    auto error = Thrown<UnpackError>([&] {
        if (which == "uint32")
            unpack.pop_uint32();
        else if (which == "uint16")
            unpack.pop_uint16();
        else if (which == "uint8")
            unpack.pop_uint8();
        else
            unpack.pop_fetch_ptr(c.available + 1);
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetMessage(), c.message);
    EXPECT_EQ(error->GetCode(), 998);
    EXPECT_EQ(unpack.size(), c.available);
}

INSTANTIATE_TEST_SUITE_P(Primitives, UnpackShortRead,
                         ::testing::Values(ShortRead{"uint32", 3, "pop_uint32: not enough data"},
                                           ShortRead{"uint16", 1, "pop_uint16: not enough data"},
                                           ShortRead{"uint8", 0, "pop_uint8: not enough data"},
                                           ShortRead{"fetch", 5, "pop_fetch_ptr: not enough data"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Unpack, VarstrWhoseBytesAreMissingFailsInTheFetch) {
    std::string bytes("\x05\x00" "abc", 5);
    Unpack unpack(bytes.data(), bytes.size());
    auto error = Thrown<UnpackError>([&] { unpack.pop_varstr(); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->GetMessage(), "pop_fetch_ptr: not enough data");
}

TEST(Unpack, ReadsBackWhatPackWrote) {
    tavi::SetSystemCodePage("GB18030");
    Pack pack;
    pack.push_uint32(0xDEADBEEF);
    pack.push_uint16(65535);
    pack.push_varstr(std::string("\0\xff", 2));
    pack.push_text(tavi::utf8_to_CString("微博 text"));
    Unpack unpack(pack.data(), pack.size());
    EXPECT_EQ(unpack.pop_uint32(), 0xDEADBEEFu);
    EXPECT_EQ(unpack.pop_uint16(), 65535u);
    EXPECT_EQ(unpack.pop_varstr(), std::string("\0\xff", 2));
    EXPECT_EQ(tavi::CString_to_utf8(unpack.pop_text()), "微博 text");
    EXPECT_TRUE(unpack.empty());
}

TEST(Property, EmptyMapMarshalsAsFourZeroBytes) {
    Pack pack;
    Property().marshal(pack);
    EXPECT_EQ(pack.str(), std::string(4, '\0'));
}

TEST(Property, EntriesGoOutInUnsignedKeyOrder) {
    Property property;
    property.SetBytes(0x80000000u, "b");
    property.SetBytes(1, "a");
    Pack pack;
    property.marshal(pack);
    EXPECT_EQ(pack.str(), std::string("\x02\0\0\0"
                                      "\x01\0\0\0\x01\0a"
                                      "\0\0\0\x80\x01\0b",
                                      18));
}

TEST(Property, RepeatedKeyInTheBytesKeepsTheLaterValue) {
    std::string bytes("\x02\0\0\0"
                      "\x07\0\0\0\x05\0first"
                      "\x07\0\0\0\x06\0second",
                      27);
    Unpack unpack(bytes.data(), bytes.size());
    Property property;
    property.unmarshal(unpack);
    EXPECT_EQ(property.Size(), 1u);
    EXPECT_EQ(property.GetMap().at(7), "second");
}

TEST(Property, MissingKeysReadAsEmptyTextAndMinusOne) {
    Property property;
    EXPECT_EQ(property.GetString(0x4E250001), "");
    EXPECT_EQ(property.GetInteger(0x4E250004), -1);
    property.SetInteger(0x4E250004, 15);
    property.SetString(0x4E250001, tavi::utf8_to_CString("用户@velmora.com"));
    EXPECT_EQ(property.GetInteger(0x4E250004), 15);
    EXPECT_EQ(property.GetMap().at(0x4E250004), std::string("\x0f\0\0\0", 4));
    // Texts are kept as UTF-8 whatever the system code page.
    EXPECT_EQ(property.GetMap().at(0x4E250001), "用户@velmora.com");
    EXPECT_EQ(tavi::CString_to_utf8(property.GetString(0x4E250001)), "用户@velmora.com");
}

TEST(Property, CopyIsDeepAndMergeOverwrites) {
    Property original;
    original.SetBytes(1, "one");
    original.SetBytes(2, "two");
    Property copy = original;
    copy.SetBytes(1, "changed");
    EXPECT_EQ(original.GetMap().at(1), "one");

    Property update;
    update.SetBytes(2, "TWO");
    update.SetBytes(3, "three");
    original.Merge(update);
    EXPECT_EQ(original.GetMap(), (Property::Map{{1, "one"}, {2, "TWO"}, {3, "three"}}));
}

TEST(Property, RemoveEqualDropsOnlyKeysWithTheSameValue) {
    Property mine(Property::Map{{1, "same"}, {2, "mine"}, {3, "only here"}});
    Property other(Property::Map{{1, "same"}, {2, "theirs"}, {4, "elsewhere"}});
    mine.RemoveEqual(other);
    EXPECT_EQ(mine.GetMap(), (Property::Map{{2, "mine"}, {3, "only here"}}));
}

TEST(Property, TruncatedBytesEndTheReadWithAPacketError) {
    Property property(Property::Map{{1, "abc"}, {2, "defgh"}});
    Pack pack;
    property.marshal(pack);
    std::string whole = pack.str();
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        Unpack unpack(whole.data(), cut);
        Property read;
        auto error = Thrown<MarshalError>([&] { read.unmarshal(unpack); });
        ASSERT_TRUE(error) << "cut at " << cut;
        EXPECT_EQ(error->GetCode(), 998);
    }
    Unpack unpack(whole.data(), whole.size());
    Property read;
    read.unmarshal(unpack);
    EXPECT_EQ(read, property);
}

TEST(Marshallable, DefaultTraceSaysItIsNotImplemented) {
    struct Bare : tavi::Marshallable {
        void marshal(Pack&) const override {}
        void unmarshal(Unpack&) override {}
    } bare;
    std::ostringstream out;
    bare.trace(out);
    EXPECT_EQ(out.str(), "trace Marshallable [ not immplement ]");
}

} // namespace
