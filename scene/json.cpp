#include "scene/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace {

// The value handed out by operator[] for a missing member. Immutable, so
// sharing it between threads is safe.
const JsonValue kNullValue{};

// strtod's notion of leading whitespace (the C locale's isspace), which is
// wider than the JSON whitespace skipped before every value.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c, bool hex) {
    return (c >= '0' && c <= '9') ||
           (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

// For a number that from_chars found out of range: whether its magnitude is
// above 1 (overflow to infinity) rather than below (underflow to zero),
// from the position of the first non-zero digit and the exponent.
bool overflows(const char* p, const char* end, bool hex) {
    int64_t magnitude = 0;
    bool seen_nonzero = false, after_point = false;
    for (; p < end && (is_digit(*p, hex) || *p == '.'); ++p) {
        if (*p == '.') {
            after_point = true;
        } else if (!seen_nonzero && *p == '0') {
            if (after_point) --magnitude;
        } else {
            seen_nonzero = true;
            if (!after_point) ++magnitude;
        }
    }
    int64_t exponent = 0;
    if (p < end && (*p == (hex ? 'p' : 'e') || *p == (hex ? 'P' : 'E'))) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+')) ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p)
            exponent = std::min<int64_t>(exponent * 10 + (*p - '0'), int64_t{1} << 40);
        if (negative) exponent = -exponent;
    }
    return (hex ? 4 * magnitude : magnitude) + exponent > 0;
}

// What strtod reads in the C locale, whatever the host's LC_NUMERIC:
// optional C-locale whitespace and sign, then a decimal or "0x" hexadecimal
// number, "inf", "infinity", "nan" or "nan(chars)", case-insensitively. Out
// of range values become infinity or zero as strtod makes them. Returns the
// number of characters consumed, 0 when there is no number.
size_t parse_c_number(const char* begin, const char* end, double& value) {
    const char* p = begin;
    while (p < end && is_c_space(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p < end && (*p == '+' || *p == '-')) return 0;  // from_chars would take a second '-'
    const bool hex = end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                     (is_digit(p[2], true) || (p[2] == '.' && end - p > 3 && is_digit(p[3], true)));
    const char* digits = hex ? p + 2 : p;
    double v = 0.0;
    const auto [stop, ec] = std::from_chars(
        digits, end, v, hex ? std::chars_format::hex : std::chars_format::general);
    if (ec == std::errc::invalid_argument) return 0;
    if (ec == std::errc::result_out_of_range)
        v = overflows(digits, stop, hex) ? HUGE_VAL : 0.0;
    value = negative ? -v : v;
    return static_cast<size_t>(stop - begin);
}

[[noreturn]] void throw_expected(char expected, char got) {
    // A NUL `got` ends the text right after "got '", which callers see.
    char message[64];
    std::snprintf(message, sizeof message, "Expected '%c', got '%c'", expected, got);
    throw std::runtime_error(message);
}

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    if (kind != JsonKind::Object) return kNullValue;
    auto it = object.find(key);
    return it == object.end() ? kNullValue : it->second;
}

void JsonParser::advance(size_t n) {
    // Literals skip a fixed count without looking; never step past the end.
    pos_ += n < remaining() ? n : remaining();
}

void JsonParser::skip_whitespace() {
    for (;;) {
        while (pos_ < end_ && (*pos_ == ' ' || *pos_ == '\t' || *pos_ == '\n' || *pos_ == '\r'))
            ++pos_;
        if (remaining() < 2 || pos_[0] != '/' || pos_[1] != '/') return;
        while (pos_ < end_ && *pos_ != '\n') ++pos_;
    }
}

void JsonParser::expect(char ch) {
    skip_whitespace();
    const char got = peek();
    if (pos_ < end_) ++pos_;
    if (got != ch) throw_expected(ch, got);
}

std::string JsonParser::parse_string_val() {
    skip_whitespace();
    if (peek() != '"') throw_expected('"', peek());
    ++pos_;
    std::string out;
    while (pos_ < end_) {
        // Copy the plain run up to the next quote or backslash in one go.
        const char* run = pos_;
        while (pos_ < end_ && *pos_ != '"' && *pos_ != '\\') ++pos_;
        out.append(run, pos_);
        if (pos_ == end_) break;
        if (*pos_ == '"') {
            ++pos_;
            break;
        }
        ++pos_;  // the backslash
        if (pos_ == end_) break;
        const char esc = *pos_++;
        switch (esc) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            default: out.push_back(esc); break;  // \" \\ \/ and anything unknown
        }
    }
    return out;
}

double JsonParser::parse_number() {
    double value = 0.0;
    pos_ += parse_c_number(pos_, end_, value);
    return value;
}

void JsonParser::parse_scalar(JsonValue& v) {
    switch (peek()) {
        case '"':
            v.kind = JsonKind::String;
            v.string = parse_string_val();
            return;
        case 't':
            v.kind = JsonKind::Boolean;
            v.boolean = true;
            advance(4);
            return;
        case 'f':
            v.kind = JsonKind::Boolean;
            advance(5);
            return;
        case 'n':
            advance(4);
            return;
        default:
            v.kind = JsonKind::Number;
            v.number = parse_number();
            return;
    }
}

JsonValue* JsonParser::next_member(JsonValue& container) {
    if (container.kind == JsonKind::Array) {
        container.array.emplace_back();
        return &container.array.back();
    }
    std::string key = parse_string_val();
    expect(':');
    // A repeated key starts over: the last value wins.
    return &container.object.insert_or_assign(std::move(key), JsonValue{}).first->second;
}

// Iterative, so that the stack use is the same at any nesting depth: `open`
// holds the containers being filled, innermost last. Each is the last
// member of the one before it, which grows no further until it closes, so
// the pointers stay valid.
JsonValue JsonParser::parse_value() {
    JsonValue root;
    std::vector<JsonValue*> open;
    JsonValue* slot = &root;
    for (;;) {
        skip_whitespace();
        const char c = peek();
        bool complete = true;
        if (c == '[' || c == '{') {
            if (open.size() >= static_cast<size_t>(kJsonMaxDepth))
                throw std::runtime_error("JSON nested deeper than " + std::to_string(kJsonMaxDepth) +
                                         " levels");
            ++pos_;
            slot->kind = c == '[' ? JsonKind::Array : JsonKind::Object;
            skip_whitespace();
            if (peek() == (c == '[' ? ']' : '}')) {
                ++pos_;
            } else {
                open.push_back(slot);
                slot = next_member(*slot);
                complete = false;
            }
        } else {
            parse_scalar(*slot);
        }
        // Close every container that this value completes.
        while (complete) {
            if (open.empty()) return root;
            JsonValue& top = *open.back();
            skip_whitespace();
            if (peek() == ',') {
                ++pos_;
                slot = next_member(top);
                complete = false;
            } else {
                expect(top.kind == JsonKind::Array ? ']' : '}');
                open.pop_back();
            }
        }
    }
}

// Children are moved out into a work list and destroyed one level at a time,
// so destroying a deeply nested value needs no deep recursion. Should the
// list itself fail to grow, the rest is destroyed recursively as usual.
JsonValue::~JsonValue() {
    if (array.empty() && object.empty()) return;
    std::vector<JsonValue> pending;
    const auto take_children = [&pending](JsonValue& v) {
        try {
            for (JsonValue& child : v.array)
                if (!child.array.empty() || !child.object.empty())
                    pending.push_back(std::move(child));
            for (auto& member : v.object)
                if (!member.second.array.empty() || !member.second.object.empty())
                    pending.push_back(std::move(member.second));
        } catch (...) {
        }
    };
    take_children(*this);
    while (!pending.empty()) {
        JsonValue v = std::move(pending.back());
        pending.pop_back();
        take_children(v);
    }
}
