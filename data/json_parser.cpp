// The JSON automaton: the byte classes, the step table built from the grammar's transitions, and
// the actions taken on steps that do more than change state.
#include "data/json_parser.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>

namespace microblog {
namespace {

// Character classes.
enum : std::int8_t {
    kSpace, // ' '
    kWhite, // tab, line feed, carriage return
    kLeftBrace,
    kRightBrace,
    kLeftBracket,
    kRightBracket,
    kColon,
    kComma,
    kQuote,
    kBackslash,
    kSlash,
    kStar,
    kPlus,
    kMinus,
    kPoint,
    kZero,
    kDigit, // 1-9
    kLowA,
    kLowB,
    kLowC,
    kLowD,
    kLowE,
    kLowF,
    kLowL,
    kLowN,
    kLowR,
    kLowS,
    kLowT,
    kLowU,
    kHexUpper, // A B C D F
    kUpperE,
    kOrdinary, // everything else, and every byte from 0x80
};
static_assert(kOrdinary == JsonParser::kOrdinaryClass);

// States.
enum : std::uint8_t {
    kGo,     // before the top-level container
    kOk,     // after a value (or after the top-level container)
    kObject, // after '{': a name or '}'
    kKey,    // after ',' in an object: a name
    kColonS, // after a name: ':'
    kValue,  // after ':' or ',' in an array: a value
    kArray,  // after '[': a value or ']'
    kString,
    kEscape,
    kHex1,
    kHex2,
    kHex3,
    kHex4,
    kLowWanted,    // after a high surrogate: '\'
    kLowEscape,    // after a high surrogate and '\': 'u'
    kMinusS,       // '-'
    kZeroS,        // a leading 0
    kInteger,      // integer digits
    kPointS,       // '.' with no digit after it yet
    kFraction,     // fraction digits
    kExponent,     // 'e' or 'E'
    kExponentSign, // the exponent's sign
    kExponentDigits,
    kT1,
    kT2,
    kT3,
    kF1,
    kF2,
    kF3,
    kF4,
    kN1,
    kN2,
    kN3,
    kCommentSlash, // '/': '*' must follow
    kComment,
    kCommentStar, // '*' inside a comment
    kFailed,      // after a rejected byte: every byte is rejected
    kStates
};
static_assert(kStates == JsonParser::kStateCount);

// Actions beyond plain state changes and appends.
enum : std::uint8_t {
    kNone = JsonParser::kActionNone,
    kAppend = JsonParser::kActionAppend,
    kFail,
    kBeginObject,
    kBeginArray,
    kEndObject,
    kEndArray,
    kNextMember, // ','
    kNameDone,   // ':'
    kBeginString,
    kEndString,
    kSimpleEscape,
    kBeginUnicode,
    kHexDigit,
    kLastHexDigit,
    kBeginNumber,
    kDecimalPoint,
    kExponentMark,
    kEndNumber, // whitespace after a number
    kEndKeyword,
    kBeginComment,
    kEndComment,
};

// Stack modes.
enum : std::uint8_t { kModeDone, kModeArray, kModeObject, kModeKey };

constexpr std::uint16_t Step(std::uint8_t action, std::uint8_t next) {
    return static_cast<std::uint16_t>(action << 8 | next);
}

constexpr void SetClass(JsonParser::ClassTable& table, const char* bytes, std::int8_t byteClass) {
    for (; *bytes != '\0'; ++bytes)
        table.of[static_cast<unsigned char>(*bytes)] = byteClass;
}

constexpr JsonParser::ClassTable MakeByteClasses() {
    JsonParser::ClassTable table{};
    for (int b = 0; b < 128; ++b)
        table.of[b] = b < 0x20 ? -1 : kOrdinary;
    SetClass(table, " ", kSpace);
    SetClass(table, "\t\n\r", kWhite);
    SetClass(table, "{", kLeftBrace);
    SetClass(table, "}", kRightBrace);
    SetClass(table, "[", kLeftBracket);
    SetClass(table, "]", kRightBracket);
    SetClass(table, ":", kColon);
    SetClass(table, ",", kComma);
    SetClass(table, "\"", kQuote);
    SetClass(table, "\\", kBackslash);
    SetClass(table, "/", kSlash);
    SetClass(table, "*", kStar);
    SetClass(table, "+", kPlus);
    SetClass(table, "-", kMinus);
    SetClass(table, ".", kPoint);
    SetClass(table, "0", kZero);
    SetClass(table, "123456789", kDigit);
    SetClass(table, "a", kLowA);
    SetClass(table, "b", kLowB);
    SetClass(table, "c", kLowC);
    SetClass(table, "d", kLowD);
    SetClass(table, "e", kLowE);
    SetClass(table, "f", kLowF);
    SetClass(table, "l", kLowL);
    SetClass(table, "n", kLowN);
    SetClass(table, "r", kLowR);
    SetClass(table, "s", kLowS);
    SetClass(table, "t", kLowT);
    SetClass(table, "u", kLowU);
    SetClass(table, "ABCDF", kHexUpper);
    SetClass(table, "E", kUpperE);
    return table;
}

constexpr bool IsHexClass(int c) {
    return c == kZero || c == kDigit || (c >= kLowA && c <= kLowF) || c == kHexUpper || c == kUpperE;
}

// The grammar as transitions; every pair not set here is a rejection.
constexpr JsonParser::StepTable MakeSteps() {
    JsonParser::StepTable t{};
    for (auto& row : t.at)
        for (auto& step : row)
            step = Step(kFail, 0);

    // Between tokens: whitespace stays, a slash starts a comment.
    for (std::uint8_t s : {kGo, kOk, kObject, kKey, kColonS, kValue, kArray}) {
        t.at[s][kSpace] = t.at[s][kWhite] = Step(kNone, s);
        t.at[s][kSlash] = Step(kBeginComment, kCommentSlash);
    }
    t.at[kGo][kLeftBrace] = Step(kBeginObject, kObject);
    t.at[kGo][kLeftBracket] = Step(kBeginArray, kArray);

    // A value, after ':' or ',' in an array, or as the first element.
    for (std::uint8_t s : {kValue, kArray}) {
        t.at[s][kLeftBrace] = Step(kBeginObject, kObject);
        t.at[s][kLeftBracket] = Step(kBeginArray, kArray);
        t.at[s][kQuote] = Step(kBeginString, kString);
        t.at[s][kMinus] = Step(kBeginNumber, kMinusS);
        t.at[s][kZero] = Step(kBeginNumber, kZeroS);
        t.at[s][kDigit] = Step(kBeginNumber, kInteger);
        t.at[s][kLowT] = Step(kNone, kT1);
        t.at[s][kLowF] = Step(kNone, kF1);
        t.at[s][kLowN] = Step(kNone, kN1);
    }
    t.at[kArray][kRightBracket] = Step(kEndArray, kOk);
    t.at[kObject][kQuote] = Step(kBeginString, kString);
    t.at[kObject][kRightBrace] = Step(kEndObject, kOk);
    t.at[kKey][kQuote] = Step(kBeginString, kString);
    t.at[kColonS][kColon] = Step(kNameDone, kValue);
    t.at[kOk][kComma] = Step(kNextMember, kValue);
    t.at[kOk][kRightBracket] = Step(kEndArray, kOk);
    t.at[kOk][kRightBrace] = Step(kEndObject, kOk);

    // Strings: tab, line feed and carriage return are not allowed raw.
    for (int c = 0; c < JsonParser::kClassCount; ++c)
        t.at[kString][c] = Step(kAppend, kString);
    t.at[kString][kWhite] = Step(kFail, 0);
    t.at[kString][kQuote] = Step(kEndString, kOk);
    t.at[kString][kBackslash] = Step(kNone, kEscape);
    for (int c : {kQuote, kBackslash, kSlash, kLowB, kLowF, kLowN, kLowR, kLowT})
        t.at[kEscape][c] = Step(kSimpleEscape, kString);
    t.at[kEscape][kLowU] = Step(kBeginUnicode, kHex1);
    for (int c = 0; c < JsonParser::kClassCount; ++c) {
        if (!IsHexClass(c))
            continue;
        t.at[kHex1][c] = Step(kHexDigit, kHex2);
        t.at[kHex2][c] = Step(kHexDigit, kHex3);
        t.at[kHex3][c] = Step(kHexDigit, kHex4);
        t.at[kHex4][c] = Step(kLastHexDigit, kString);
    }
    t.at[kLowWanted][kBackslash] = Step(kNone, kLowEscape);
    t.at[kLowEscape][kLowU] = Step(kBeginUnicode, kHex1);

    // Numbers.
    t.at[kMinusS][kZero] = Step(kAppend, kZeroS);
    t.at[kMinusS][kDigit] = Step(kAppend, kInteger);
    t.at[kZeroS][kPoint] = Step(kDecimalPoint, kPointS);
    t.at[kInteger][kZero] = t.at[kInteger][kDigit] = Step(kAppend, kInteger);
    t.at[kInteger][kPoint] = Step(kDecimalPoint, kPointS);
    t.at[kPointS][kZero] = t.at[kPointS][kDigit] = Step(kAppend, kFraction);
    t.at[kFraction][kZero] = t.at[kFraction][kDigit] = Step(kAppend, kFraction);
    for (std::uint8_t s : {kInteger, kPointS, kFraction})
        t.at[s][kLowE] = t.at[s][kUpperE] = Step(kExponentMark, kExponent);
    t.at[kExponent][kPlus] = t.at[kExponent][kMinus] = Step(kAppend, kExponentSign);
    t.at[kExponent][kZero] = t.at[kExponent][kDigit] = Step(kAppend, kExponentDigits);
    t.at[kExponentSign][kZero] = t.at[kExponentSign][kDigit] = Step(kAppend, kExponentDigits);
    t.at[kExponentDigits][kZero] = t.at[kExponentDigits][kDigit] = Step(kAppend, kExponentDigits);
    // A number ends at whitespace, a comma or a closing bracket; a comment may follow it directly
    // only when it ends in a digit of its integer or fraction part.
    for (std::uint8_t s : {kZeroS, kInteger, kPointS, kFraction, kExponentDigits}) {
        t.at[s][kSpace] = t.at[s][kWhite] = Step(kEndNumber, kOk);
        t.at[s][kComma] = Step(kNextMember, kValue);
        t.at[s][kRightBracket] = Step(kEndArray, kOk);
        t.at[s][kRightBrace] = Step(kEndObject, kOk);
    }
    for (std::uint8_t s : {kZeroS, kInteger, kFraction})
        t.at[s][kSlash] = Step(kBeginComment, kCommentSlash);

    // Keywords, lower case only.
    t.at[kT1][kLowR] = Step(kNone, kT2);
    t.at[kT2][kLowU] = Step(kNone, kT3);
    t.at[kT3][kLowE] = Step(kEndKeyword, kOk);
    t.at[kF1][kLowA] = Step(kNone, kF2);
    t.at[kF2][kLowL] = Step(kNone, kF3);
    t.at[kF3][kLowS] = Step(kNone, kF4);
    t.at[kF4][kLowE] = Step(kEndKeyword, kOk);
    t.at[kN1][kLowU] = Step(kNone, kN2);
    t.at[kN2][kLowL] = Step(kNone, kN3);
    t.at[kN3][kLowL] = Step(kEndKeyword, kOk);

    // Block comments.
    t.at[kCommentSlash][kStar] = Step(kNone, kComment);
    for (int c = 0; c < JsonParser::kClassCount; ++c) {
        t.at[kComment][c] = Step(kNone, kComment);
        t.at[kCommentStar][c] = Step(kNone, kComment);
    }
    t.at[kComment][kStar] = Step(kNone, kCommentStar);
    t.at[kCommentStar][kStar] = Step(kNone, kCommentStar);
    t.at[kCommentStar][kSlash] = Step(kEndComment, 0);
    return t;
}

constexpr bool IsNumberState(int state) {
    return state >= kMinusS && state <= kExponentDigits;
}

int HexValue(unsigned char byte) {
    if (byte >= '0' && byte <= '9')
        return byte - '0';
    if (byte >= 'a' && byte <= 'f')
        return byte - 'a' + 10;
    return byte - 'A' + 10;
}

char SimpleEscape(unsigned char byte) {
    switch (byte) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return static_cast<char>(byte); // '"', '\\', '/'
    }
}

} // namespace

constexpr JsonParser::StringByteTable MakePlainStringBytes() {
    JsonParser::ClassTable classes = MakeByteClasses();
    JsonParser::StepTable steps = MakeSteps();
    JsonParser::StringByteTable table{};
    for (int b = 0; b < 256; ++b) {
        int byteClass = b < 0x80 ? static_cast<int>(classes.of[b]) : static_cast<int>(kOrdinary);
        table.plain[b] = byteClass >= 0 && steps.at[kString][byteClass] == Step(kAppend, kString);
    }
    return table;
}

constinit const JsonParser::ClassTable JsonParser::kByteClass = MakeByteClasses();
constinit const JsonParser::StepTable JsonParser::kSteps = MakeSteps();
constinit const JsonParser::StringByteTable JsonParser::kPlainStringByte = MakePlainStringBytes();

JsonParser::JsonParser(const JsonParserConfig& config)
    : config_(config), state_(kGo), stack_(inlineStack_), stackCapacity_(kInlineStackEntries),
      token_(inlineToken_), tokenCapacity_(kInlineTokenBytes) {
    // The locale's decimal point is read once: numbers are converted with the C library, which
    // expects the point of the locale in force.
    const struct lconv* conventions = std::localeconv();
    decimalPoint_ = conventions && conventions->decimal_point && *conventions->decimal_point
                        ? conventions->decimal_point
                        : ".";
    stack_[depth_++] = kModeDone;
}

JsonParser::~JsonParser() {
    if (stack_ != inlineStack_)
        delete[] stack_;
    if (token_ != inlineToken_)
        delete[] token_;
}

bool JsonParser::FeedText(const unsigned char* text) {
    const unsigned char* byte = text;
    while (*byte != 0) {
        if (state_ == kString && kPlainStringByte.plain[*byte]) {
            // The run of bytes that only join the string is classified byte by byte first, then
            // copied into the token in one piece. The NUL that ends the text is never plain, so
            // the run stops at it.
            const unsigned char* end = byte;
            unsigned char bits = 0;
            do
                bits |= *end++;
            while (kPlainStringByte.plain[*end]);
            auto n = static_cast<std::size_t>(end - byte);
            if (tokenLength_ + n + 1 > tokenCapacity_ && !GrowToken(tokenLength_ + n + 1))
                return Reject();
            std::memcpy(token_ + tokenLength_, byte, n);
            tokenLength_ += n;
            tokenBits_ |= bits;
            byte = end;
            continue;
        }
        if (!Feed(*byte))
            return false;
        ++byte;
    }
    return true;
}

bool JsonParser::Reject() {
    state_ = kFailed;
    return false;
}

bool JsonParser::Push(std::uint8_t mode) {
    // depth_ counts the Done entry at the bottom of the stack.
    if (config_.depth > 0 && depth_ > config_.depth)
        return false;
    if (depth_ == stackCapacity_) {
        auto* grown = new (std::nothrow) std::uint8_t[stackCapacity_ * 2];
        if (grown == nullptr)
            return false;
        std::memcpy(grown, stack_, depth_);
        if (stack_ != inlineStack_)
            delete[] stack_;
        stack_ = grown;
        stackCapacity_ *= 2;
    }
    stack_[depth_++] = mode;
    return true;
}

bool JsonParser::GrowToken(std::size_t needed) {
    std::size_t capacity = tokenCapacity_;
    while (capacity < needed)
        capacity *= 2;
    auto* grown = new (std::nothrow) char[capacity];
    if (grown == nullptr)
        return false;
    std::memcpy(grown, token_, tokenLength_);
    if (token_ != inlineToken_)
        delete[] token_;
    token_ = grown;
    tokenCapacity_ = capacity;
    return true;
}

bool JsonParser::AppendCodePoint(std::uint32_t code) {
    unsigned char bytes[4];
    int n;
    if (code < 0x80) {
        bytes[0] = static_cast<unsigned char>(code);
        n = 1;
    } else if (code < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        n = 2;
    } else if (code < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        n = 4;
    }
    for (int i = 0; i < n; ++i)
        if (!AppendToken(bytes[i]))
            return false;
    return true;
}

// The fourth hex digit of a \u escape is in: write the character, or wait for the low half of a
// surrogate pair.
bool JsonParser::FinishEscape() {
    std::uint32_t code = escapeValue_;
    bool isHigh = code >= 0xD800 && code <= 0xDBFF;
    bool isLow = code >= 0xDC00 && code <= 0xDFFF;
    if (highSurrogatePending_) {
        if (!isLow)
            return false;
        highSurrogatePending_ = false;
        state_ = kString;
        return AppendCodePoint(0x10000 + ((highSurrogate_ & 0x3FF) << 10 | (code & 0x3FF)));
    }
    if (isLow)
        return false;
    if (isHigh) {
        highSurrogate_ = code;
        highSurrogatePending_ = true;
        state_ = kLowWanted;
        return true;
    }
    state_ = kString;
    return AppendCodePoint(code);
}

bool JsonParser::EmitPending() {
    Pending pending = pending_;
    pending_ = Pending::None;
    JsonEventData data;
    switch (pending) {
    case Pending::None:
        return true;
    case Pending::True:
        return Emit(JsonEvent::True, data);
    case Pending::False:
        return Emit(JsonEvent::False, data);
    case Pending::Null:
        return Emit(JsonEvent::Null, data);
    case Pending::Number:
        break;
    }
    token_[tokenLength_] = '\0';
    if (!isFloat_) {
        // Numbers beyond 32 bits are held at the nearest end of the range. The automaton let
        // through only an optional minus and digits: up to 18 digits are added up here, exactly,
        // and longer ones (which only the ends of the range can hold) are left to the C library.
        long long value;
        bool negative = token_[0] == '-';
        std::size_t first = negative ? 1 : 0;
        if (tokenLength_ - first <= 18) {
            value = 0;
            for (std::size_t i = first; i < tokenLength_; ++i)
                value = value * 10 + (token_[i] - '0');
            if (negative)
                value = -value;
        } else {
            errno = 0;
            value = std::strtoll(token_, nullptr, 10);
        }
        if (value > INT_MAX)
            value = INT_MAX;
        if (value < INT_MIN)
            value = INT_MIN;
        data.integer = static_cast<std::int32_t>(value);
        return Emit(JsonEvent::Integer, data);
    }
    if (config_.handleFloatsManually) {
        data.text = token_;
        data.length = tokenLength_;
    } else {
        data.real = std::strtod(token_, nullptr);
    }
    return Emit(JsonEvent::Float, data);
}

bool JsonParser::Close(bool isObject) {
    if (IsNumberState(state_))
        pending_ = Pending::Number;
    if (!EmitPending())
        return false;
    // The end is reported before the bracket is checked against the open container.
    if (!Emit(isObject ? JsonEvent::ObjectEnd : JsonEvent::ArrayEnd, JsonEventData()))
        return false;
    std::uint8_t mode = stack_[depth_ - 1];
    bool matches = isObject ? (mode == kModeObject || mode == kModeKey) : mode == kModeArray;
    if (!matches)
        return false;
    --depth_;
    state_ = kOk;
    return true;
}

bool JsonParser::Act(int action, int next, unsigned char byte) {
    switch (action) {
    case kBeginObject:
    case kBeginArray: {
        bool isObject = action == kBeginObject;
        if (!Push(isObject ? kModeKey : kModeArray))
            return false;
        state_ = next;
        return Emit(isObject ? JsonEvent::ObjectBegin : JsonEvent::ArrayBegin, JsonEventData());
    }
    case kEndObject:
        return Close(true);
    case kEndArray:
        return Close(false);
    case kNextMember: {
        if (IsNumberState(state_))
            pending_ = Pending::Number;
        if (!EmitPending())
            return false;
        std::uint8_t& mode = stack_[depth_ - 1];
        if (mode == kModeObject) {
            mode = kModeKey;
            state_ = kKey;
        } else if (mode == kModeArray) {
            state_ = kValue;
        } else {
            return false;
        }
        return true;
    }
    case kNameDone:
        if (stack_[depth_ - 1] != kModeKey)
            return false;
        stack_[depth_ - 1] = kModeObject;
        state_ = next;
        return true;
    case kBeginString:
        tokenLength_ = 0;
        tokenBits_ = 0;
        state_ = next;
        return true;
    case kEndString: {
        JsonEventData data;
        data.text = token_;
        data.length = tokenLength_;
        data.ascii = tokenBits_ < 0x80;
        if (stack_[depth_ - 1] == kModeKey) {
            state_ = kColonS;
            return Emit(JsonEvent::Key, data);
        }
        state_ = kOk;
        return Emit(JsonEvent::String, data);
    }
    case kSimpleEscape:
        state_ = next;
        return AppendToken(static_cast<unsigned char>(SimpleEscape(byte)));
    case kBeginUnicode:
        escapeValue_ = 0;
        state_ = next;
        return true;
    case kHexDigit:
        escapeValue_ = escapeValue_ << 4 | static_cast<std::uint32_t>(HexValue(byte));
        state_ = next;
        return true;
    case kLastHexDigit:
        escapeValue_ = escapeValue_ << 4 | static_cast<std::uint32_t>(HexValue(byte));
        return FinishEscape();
    case kBeginNumber:
        tokenLength_ = 0;
        isFloat_ = false;
        state_ = next;
        return AppendToken(byte);
    case kDecimalPoint:
        isFloat_ = true;
        state_ = next;
        if (config_.handleFloatsManually)
            return AppendToken('.');
        for (char c : decimalPoint_)
            if (!AppendToken(static_cast<unsigned char>(c)))
                return false;
        return true;
    case kExponentMark:
        isFloat_ = true;
        state_ = next;
        return AppendToken(byte);
    case kEndNumber:
        pending_ = Pending::Number;
        state_ = next;
        return true;
    case kEndKeyword:
        pending_ = state_ == kT3 ? Pending::True : state_ == kF4 ? Pending::False : Pending::Null;
        state_ = next;
        return true;
    case kBeginComment:
        if (!config_.allowComments)
            return false;
        // A comment start reports a value that is still waiting for its delimiter.
        if (IsNumberState(state_)) {
            pending_ = Pending::Number;
            stateAfterComment_ = kOk;
        } else {
            stateAfterComment_ = state_;
        }
        state_ = next;
        return EmitPending();
    case kEndComment:
        state_ = stateAfterComment_;
        return true;
    default:
        return false;
    }
}

} // namespace microblog
