// The settings packets on the wire: every field in order, the frame key limit, what a short reply
// ends with, repeated keys and the traces.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

#include "host/common.h"
#include "service/packets.h"

namespace {

using microblog::LFrame;
using microblog::NamedProperty;
using microblog::TaggedProperty;
using microblog::TagRecord;

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::string Marshal(const tavi::Marshallable& packet) {
    tavi::Pack pack;
    packet.marshal(pack);
    return pack.str();
}

template <class Error, class Call> std::unique_ptr<Error> Thrown(Call call) {
    try {
        call();
    } catch (Error* error) {
        return std::unique_ptr<Error>(error);
    }
    return nullptr;
}

// One packet of each type with a distinct value in every field, and its bytes.
struct WireCase {
    const char* name;
    std::function<std::unique_ptr<tavi::Marshallable>()> make;
    std::function<std::unique_ptr<tavi::Marshallable>()> makeEmpty;
    std::string bytes;
};

std::unique_ptr<tavi::Marshallable> SampleFrame() {
    auto frame = std::make_unique<LFrame>();
    frame->header = 0x11223344;
    frame->serviceId = 0x5566;
    frame->command = 0x7788;
    frame->reserved = 0x99AA;
    frame->code = 0xBBCC;
    frame->flag = 0xDD;
    frame->key = "k";
    frame->secondFlag = 0xEE;
    frame->secondText = "st";
    return frame;
}

std::unique_ptr<tavi::Marshallable> SampleTagged() {
    auto tagged = std::make_unique<TaggedProperty>();
    tagged->name = tavi::utf8_to_CString("微博");
    tagged->timeTag = 0x01020304;
    tagged->SetBytes(0x4E250004, Bytes({0x1E, 0, 0, 0}));
    tagged->SetBytes(0x4E250001, "a");
    return tagged;
}

std::unique_ptr<tavi::Marshallable> SampleNamed() {
    auto named = std::make_unique<NamedProperty>();
    named->name = "n";
    named->SetBytes(0x80000000, "hi");
    return named;
}

std::unique_ptr<tavi::Marshallable> SampleRecord() {
    auto record = std::make_unique<TagRecord>();
    record->text = "me@velmora.com";
    record->timeTag = 0xA1B2C3D4;
    return record;
}

const WireCase kWireCases[] = {
    {"LFrame", SampleFrame, [] { return std::make_unique<LFrame>(); },
     Bytes({0x44, 0x33, 0x22, 0x11, 0x66, 0x55, 0x88, 0x77, 0xAA, 0x99, 0xCC,
            0xBB, 0xDD, 1,    0,    'k',  0xEE, 2,    0,    's',  't'})},
    // The name goes out as UTF-8; the entries in ascending key order whatever order they were set in.
    {"TaggedProperty", SampleTagged, [] { return std::make_unique<TaggedProperty>(); },
     Bytes({6, 0,    0xE5, 0xBE, 0xAE, 0xE5, 0x8D, 0x9A, 0x04, 0x03, 0x02, 0x01, 2,    0, 0, 0, 0x01,
            0, 0x25, 0x4E, 1,    0,    'a',  0x04, 0,    0x25, 0x4E, 4,    0,    0x1E, 0, 0, 0})},
    // Keys order as unsigned numbers: 0x80000000 is not negative.
    {"NamedProperty", SampleNamed, [] { return std::make_unique<NamedProperty>(); },
     Bytes({1, 0, 'n', 1, 0, 0, 0, 0, 0, 0, 0x80, 2, 0, 'h', 'i'})},
    {"TagRecord", SampleRecord, [] { return std::make_unique<TagRecord>(); },
     std::string("\x0e\x00me@velmora.com", 16) + Bytes({0xD4, 0xC3, 0xB2, 0xA1})},
};

void PrintTo(const WireCase& c, std::ostream* out) {
    *out << c.name;
}

class PacketWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(PacketWire, WritesEveryFieldInOrderAndReadsItBack) {
    const WireCase& c = GetParam();
    EXPECT_EQ(Marshal(*c.make()), c.bytes);

    auto read = c.makeEmpty();
    tavi::Unpack unpack(c.bytes.data(), c.bytes.size());
    read->unmarshal(unpack);
    EXPECT_TRUE(unpack.empty());
    EXPECT_EQ(Marshal(*read), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Types, PacketWire, ::testing::ValuesIn(kWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFrame, IsTheServiceCommandAndCode200WithEverythingElseEmpty) {
    EXPECT_EQ(Marshal(microblog::MakeSettingsFrame(microblog::kCommandFetchSettings)),
              Bytes({0, 0, 0, 0, 0x25, 0x4E, 1, 0, 0, 0, 0xC8, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Marshal(microblog::MakeSettingsFrame(microblog::kCommandUploadSettings)),
              Bytes({0, 0, 0, 0, 0x25, 0x4E, 2, 0, 0, 0, 0xC8, 0, 0, 0, 0, 0, 0, 0}));
}

// The key limit counts bytes in the system code page, before the conversion to UTF-8.
struct KeyCase {
    const char* name;
    const char* unitUtf8; // repeated, in the system code page
    int units;
    const char* tail;
    bool accepted;
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

class FrameKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(FrameKey, UpTo255BytesIsWrittenAndLongerIsRefusedBeforeAnyByte) {
    LFrame frame;
    for (int i = 0; i < GetParam().units; ++i)
        frame.key += tavi::utf8_to_CString(GetParam().unitUtf8);
    frame.key += GetParam().tail;
    tavi::Pack pack;
    pack.push_uint8(0x5A); // what the pack held before stays as it was
    auto error = Thrown<tavi::PackError>([&] { frame.marshal(pack); });
    if (GetParam().accepted) {
        ASSERT_FALSE(error);
        std::string utf8 = tavi::CString_to_utf8(frame.key);
        EXPECT_EQ(pack.size(), 1u + 4 + 2 * 4 + 1 + 2 + utf8.size() + 1 + 2);
        EXPECT_EQ(pack.str().substr(14, 2),
                  Bytes({static_cast<int>(utf8.size() & 0xFF), static_cast<int>(utf8.size() >> 8)}));
    } else {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetMessage(), "key too big");
        EXPECT_EQ(error->GetCode(), 999);
        EXPECT_EQ(pack.str(), "\x5A");
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, FrameKey,
                         ::testing::Values(KeyCase{"Ascii255", "k", 255, "", true},
                                           KeyCase{"Ascii256", "k", 256, "", false},
                                           // 255 bytes in GB18030, 382 in UTF-8: still accepted.
                                           KeyCase{"Chinese255", "微", 127, "k", true},
                                           KeyCase{"Chinese256", "微", 128, "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A reply cut anywhere ends the read with the error of the primitive that ran short.
struct TruncationCase {
    const char* name;
    std::function<std::unique_ptr<tavi::Marshallable>()> make;
    std::function<std::unique_ptr<tavi::Marshallable>()> makeEmpty;
    // The primitive that reads each byte position, in order: (bytes it covers, its error).
    std::vector<std::pair<int, const char*>> layout;
};

constexpr const char* kShortU8 = "pop_uint8: not enough data";
constexpr const char* kShortU16 = "pop_uint16: not enough data";
constexpr const char* kShortU32 = "pop_uint32: not enough data";
constexpr const char* kShortBytes = "pop_fetch_ptr: not enough data";

const TruncationCase kTruncationCases[] = {
    {"TaggedProperty",
     SampleTagged,
     [] { return std::make_unique<TaggedProperty>(); },
     {{2, kShortU16},
      {6, kShortBytes},
      {4, kShortU32},
      {4, kShortU32},
      {4, kShortU32},
      {2, kShortU16},
      {1, kShortBytes},
      {4, kShortU32},
      {2, kShortU16},
      {4, kShortBytes}}},
    {"LFrame",
     SampleFrame,
     [] { return std::make_unique<LFrame>(); },
     {{4, kShortU32},
      {2, kShortU16},
      {2, kShortU16},
      {2, kShortU16},
      {2, kShortU16},
      {1, kShortU8},
      {2, kShortU16},
      {1, kShortBytes},
      {1, kShortU8},
      {2, kShortU16},
      {2, kShortBytes}}},
    {"TagRecord",
     SampleRecord,
     [] { return std::make_unique<TagRecord>(); },
     {{2, kShortU16}, {14, kShortBytes}, {4, kShortU32}}},
};

void PrintTo(const TruncationCase& c, std::ostream* out) {
    *out << c.name;
}

class TruncatedReply : public ::testing::TestWithParam<TruncationCase> {};

TEST_P(TruncatedReply, EndsWithTheErrorOfThePrimitiveThatRanShort) {
    const TruncationCase& c = GetParam();
    std::string full = Marshal(*c.make());
    std::vector<const char*> expected;
    for (const auto& [bytes, message] : c.layout)
        expected.insert(expected.end(), bytes, message);
    ASSERT_EQ(expected.size(), full.size());
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        auto packet = c.makeEmpty();
        tavi::Unpack unpack(full.data(), cut);
        auto error = Thrown<tavi::UnpackError>([&] { packet->unmarshal(unpack); });
        ASSERT_TRUE(error) << "cut at " << cut;
        EXPECT_EQ(error->GetMessage(), expected[cut]) << "cut at " << cut;
        EXPECT_EQ(error->GetCode(), 998);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, TruncatedReply, ::testing::ValuesIn(kTruncationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TaggedReply, ARepeatedKeyKeepsTheLaterValue) {
    std::string bytes = Bytes({9, 0, 'm', 'i', 'c', 'r', 'o', 'b', 'l', 'o', 'g', 7, 0, 0, 0, 3, 0, 0, 0}) +
                        Bytes({0x04, 0, 0x25, 0x4E, 4, 0, 5, 0, 0, 0}) +
                        Bytes({0x01, 0, 0x25, 0x4E, 1, 0, 'x'}) +
                        Bytes({0x04, 0, 0x25, 0x4E, 4, 0, 40, 0, 0, 0});
    TaggedProperty reply;
    tavi::Unpack unpack(bytes.data(), bytes.size());
    reply.unmarshal(unpack);
    EXPECT_TRUE(unpack.empty());
    EXPECT_EQ(reply.Size(), 2u);
    EXPECT_EQ(reply.GetInteger(0x4E250004), 40);
    EXPECT_EQ(reply.GetString(0x4E250001), "x");
    EXPECT_EQ(reply.timeTag, 7u);
}

TEST(PacketTrace, NamedTypesWriteTheirNameAndTheOthersTheDefault) {
    auto traced = [](const tavi::Marshallable& packet) {
        std::ostringstream out;
        packet.trace(out);
        return out.str();
    };
    TaggedProperty tagged;
    tagged.name = "microblog";
    tagged.timeTag = 5;
    NamedProperty named;
    named.name = "other";
    EXPECT_EQ(traced(tagged), "microblog\ntrace Marshallable [ not immplement ]");
    EXPECT_EQ(traced(named), "other\ntrace Marshallable [ not immplement ]");
    EXPECT_EQ(traced(*SampleFrame()), "trace Marshallable [ not immplement ]");
    EXPECT_EQ(traced(*SampleRecord()), "trace Marshallable [ not immplement ]");
}

} // namespace
