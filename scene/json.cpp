#include "scene/json.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

// The value handed out by operator[] for a missing member. Immutable, so
// sharing it between threads is safe.
const JsonValue kNullValue{};

// Characters strtod may consume after its leading whitespace: digits, signs,
// the decimal point, exponent and hex letters, "inf"/"infinity"/"nan" and the
// "nan(chars)" payload. A number never extends past a run of these, so
// copying the run bounds strtod's read to the input.
bool is_number_char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           c == '+' || c == '-' || c == '.' || c == '(' || c == ')' || c == '_';
}

// strtod's own notion of leading whitespace (the C locale's isspace), which
// is wider than the JSON whitespace skipped before every value.
bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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
    // The input is not NUL-terminated, so strtod runs on a bounded copy of
    // everything it could possibly consume.
    const char* p = pos_;
    while (p < end_ && is_c_space(*p)) ++p;
    while (p < end_ && is_number_char(*p)) ++p;
    char small[64];
    std::string large;
    const size_t len = static_cast<size_t>(p - pos_);
    char* text = small;
    if (len >= sizeof small) {
        large.assign(pos_, len);
        text = large.data();
    } else {
        for (size_t i = 0; i < len; ++i) small[i] = pos_[i];
        small[len] = '\0';
    }
    char* stop = text;
    const double value = std::strtod(text, &stop);
    if (stop == text) return 0.0;
    pos_ += stop - text;
    return value;
}

void JsonParser::parse_array(JsonValue& out) {
    skip_whitespace();
    if (peek() == ']') {
        ++pos_;
        return;
    }
    for (;;) {
        out.array.push_back(parse_value());
        skip_whitespace();
        if (peek() == ',') {
            ++pos_;
            continue;
        }
        expect(']');
        return;
    }
}

void JsonParser::parse_object(JsonValue& out) {
    skip_whitespace();
    if (peek() == '}') {
        ++pos_;
        return;
    }
    for (;;) {
        std::string key = parse_string_val();
        expect(':');
        out.object.insert_or_assign(std::move(key), parse_value());
        skip_whitespace();
        if (peek() == ',') {
            ++pos_;
            continue;
        }
        expect('}');
        return;
    }
}

JsonValue JsonParser::parse_value() {
    skip_whitespace();
    JsonValue v;
    switch (peek()) {
        case '"':
            v.kind = JsonKind::String;
            v.string = parse_string_val();
            return v;
        case '[':
        case '{': {
            if (depth_ >= kJsonMaxDepth)
                throw std::runtime_error("JSON nested deeper than " + std::to_string(kJsonMaxDepth) +
                                         " levels");
            const bool is_array = *pos_ == '[';
            ++pos_;
            // Counts this level while it is parsed, also when parsing throws.
            struct DepthGuard {
                int& depth;
                explicit DepthGuard(int& d) : depth(d) { ++depth; }
                ~DepthGuard() { --depth; }
            } guard(depth_);
            v.kind = is_array ? JsonKind::Array : JsonKind::Object;
            if (is_array)
                parse_array(v);
            else
                parse_object(v);
            return v;
        }
        case 't':
            v.kind = JsonKind::Boolean;
            v.boolean = true;
            advance(4);
            return v;
        case 'f':
            v.kind = JsonKind::Boolean;
            advance(5);
            return v;
        case 'n':
            advance(4);
            return v;
        default:
            v.kind = JsonKind::Number;
            v.number = parse_number();
            return v;
    }
}
