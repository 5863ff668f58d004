// The push parser under the JSON reader: a table-driven automaton fed one byte at a time that
// reports what it recognises as events to a callback. Top level is an object or an array; block
// comments are allowed where whitespace may stand; nesting is limited only by memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace microblog {

enum class JsonEvent {
    ArrayBegin,
    ArrayEnd,
    ObjectBegin,
    ObjectEnd,
    Integer,
    Float,
    Null,
    True,
    False,
    String,
    Key,
};

// What an event carries: Integer the number; Float the number, or its text when floats are
// handled by the caller; String and Key the bytes (still UTF-8), not NUL-terminated.
struct JsonEventData {
    std::int32_t integer = 0;
    double real = 0.0;
    const char* text = nullptr;
    std::size_t length = 0;
    // String and Key: whether every byte is below 0x80, so the text needs no conversion.
    bool ascii = true;
};

// Returns false to stop the parse (the byte being fed is then rejected).
using JsonEventCallback = bool (*)(void* context, JsonEvent event, const JsonEventData& data);

struct JsonParserConfig {
    JsonEventCallback callback = nullptr;
    void* context = nullptr;
    // Greatest nesting depth; 0 for no limit but memory.
    std::size_t depth = 0;
    bool allowComments = true;
    // When set, Float events carry the number's text (with '.' as the point) instead of a value.
    bool handleFloatsManually = false;
};

class JsonParser {
public:
    explicit JsonParser(const JsonParserConfig& config);
    ~JsonParser();
    JsonParser(const JsonParser&) = delete;
    JsonParser& operator=(const JsonParser&) = delete;

    // Feeds one byte; false when it is rejected. After a rejection every further byte is rejected.
    // The common steps (a byte of a string or a number, a state change) are taken here, the rest
    // in Act.
    bool Feed(unsigned char byte) {
        int byteClass = byte < 0x80 ? kByteClass.of[byte] : kOrdinaryClass;
        if (byteClass < 0)
            return Reject();
        std::uint16_t step = kSteps.at[state_][byteClass];
        int action = step >> 8;
        if (action == kActionNone) {
            state_ = step & 0xFF;
            return true;
        }
        if (action == kActionAppend) {
            if (!AppendToken(byte))
                return Reject();
            state_ = step & 0xFF;
            return true;
        }
        return Act(action, step & 0xFF, byte) || Reject();
    }

    // Feeds the bytes of a NUL-terminated text in order, exactly as Feed would one by one; false
    // at the first rejected byte. Inside a string, bytes that only join the string are taken in a
    // tight loop.
    bool FeedText(const unsigned char* text);

    // Bytes of the buffers that live inside the object until they first outgrow it.
    static constexpr std::size_t kInlineTokenBytes = 3500;
    static constexpr std::size_t kInlineStackEntries = 128;

    // The automaton's tables: 128 byte classes (-1 for bytes that are never allowed; bytes from
    // 0x80 up are ordinary characters), and one step per state and class. A step is an action in
    // its high byte and the next state in its low byte.
    static constexpr int kClassCount = 32;
    static constexpr int kStateCount = 37;
    static constexpr int kOrdinaryClass = kClassCount - 1;
    static constexpr int kActionNone = 0;
    static constexpr int kActionAppend = 1;
    struct ClassTable {
        std::int8_t of[128];
    };
    struct StepTable {
        std::uint16_t at[kStateCount][kClassCount];
    };
    static const ClassTable kByteClass;
    static const StepTable kSteps;
    // For each byte, whether inside a string it is simply appended (the step of the string state
    // for its class).
    struct StringByteTable {
        bool plain[256];
    };
    static const StringByteTable kPlainStringByte;

private:
    enum class Pending : std::uint8_t { None, Number, True, False, Null };

    bool Act(int action, int next, unsigned char byte);
    bool Reject();
    bool Emit(JsonEvent event, const JsonEventData& data) {
        return config_.callback(config_.context, event, data);
    }
    bool EmitPending();
    bool Close(bool isObject);
    bool Push(std::uint8_t mode);
    bool GrowToken(std::size_t needed);
    bool AppendToken(unsigned char byte) {
        if (tokenLength_ + 2 > tokenCapacity_ && !GrowToken(tokenLength_ + 2))
            return false;
        token_[tokenLength_++] = static_cast<char>(byte);
        tokenBits_ |= byte;
        return true;
    }
    bool AppendCodePoint(std::uint32_t code);
    bool FinishEscape();

    JsonParserConfig config_;
    int state_;
    int stateAfterComment_ = 0;
    Pending pending_ = Pending::None;
    bool isFloat_ = false;
    bool highSurrogatePending_ = false;
    std::uint32_t escapeValue_ = 0;
    std::uint32_t highSurrogate_ = 0;
    std::string decimalPoint_;

    std::uint8_t* stack_;
    std::size_t stackCapacity_;
    std::size_t depth_ = 0;
    char* token_;
    std::size_t tokenCapacity_;
    std::size_t tokenLength_ = 0;
    // The bits of every byte put into the token since it was started.
    unsigned char tokenBits_ = 0;

    std::uint8_t inlineStack_[kInlineStackEntries];
    char inlineToken_[kInlineTokenBytes];
};

} // namespace microblog
