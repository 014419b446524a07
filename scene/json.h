// A small, lenient JSON reader for scene files.
//
// Besides standard JSON it accepts `//` line comments, and it forgives a lot:
// literals are recognised by their first letter (`tru` reads as true), escapes
// other than \" \\ \/ \n \r \t are kept literally (\u00e9 reads as the five
// characters u00e9), numbers are whatever strtod accepts in the C locale (the host's LC_NUMERIC
// plays no part), and a value that is
// not a number where one is expected reads as 0 without consuming anything
// (so [1,2,] holds 1, 2 and 0). Files depend on this leniency; keep it.
//
// Every syntax error throws std::runtime_error("Expected 'x', got 'y'"); the
// character found is NUL at the end of the input, which ends the text right
// after "got '". Nesting deeper than kJsonMaxDepth arrays and objects throws
// the same exception type. Parsing and destroying values take the same,
// small amount of stack at any depth (a few KiB; the tests run them on a
// 128 KiB thread stack, the smallest common default), so hostile input
// cannot exhaust the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class JsonKind : int32_t {
    Null = 0,
    Boolean = 1,
    Number = 2,
    String = 3,
    Array = 4,
    Object = 5,
};

struct JsonValue {
    JsonKind kind = JsonKind::Null;
    double number = 0.0;
    bool boolean = false;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;  // byte-wise key order

    JsonValue() = default;
    JsonValue(const JsonValue&) = default;
    JsonValue(JsonValue&&) = default;
    JsonValue& operator=(const JsonValue&) = default;
    JsonValue& operator=(JsonValue&&) = default;
    // Takes nested values apart without recursion.
    ~JsonValue();

    // The member named `key` of an object; for anything else (not an object,
    // or no such member) a shared null value that lives until program exit.
    const JsonValue& operator[](const std::string& key) const;
};

// Arrays and objects nested deeper than this are rejected. Scene files nest a
// handful of levels; the limit bounds the work list of open containers.
inline constexpr int kJsonMaxDepth = 512;

class JsonParser {
public:
    // Parses [begin, end). The text is not copied and must outlive the parser.
    JsonParser(const char* begin, const char* end) : pos_(begin), end_(end) {}

    // One value from the current position; the position ends just after it
    // and nothing after it is examined.
    JsonValue parse_value();
    // Skips whitespace and comments, requires '"', returns the decoded text.
    // Input ending inside the string returns what was read so far.
    std::string parse_string_val();
    // Skips whitespace and comments and consumes one character, throwing
    // unless it is `ch`.
    void expect(char ch);

    // Bytes not consumed yet.
    size_t remaining() const { return static_cast<size_t>(end_ - pos_); }

private:
    void skip_whitespace();
    char peek() const { return pos_ < end_ ? *pos_ : '\0'; }
    void advance(size_t n);
    double parse_number();
    // A string, literal or number at the current position.
    void parse_scalar(JsonValue& v);
    // The value slot of the next member of `container` (for an object, after
    // reading its key and colon).
    JsonValue* next_member(JsonValue& container);

    const char* pos_;
    const char* end_;
};
