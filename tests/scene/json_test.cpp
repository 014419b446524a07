#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "comma_locale.h"
#include "scene/json.h"

namespace {

JsonValue parse(const std::string& text) {
    JsonParser p(text.data(), text.data() + text.size());
    return p.parse_value();
}

// The message of the runtime_error that parsing `text` throws, or "" if none.
std::string parse_error(const std::string& text) {
    try {
        parse(text);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

// Whole documents: members, key order, duplicate keys, trailing commas,
// comments, literals read by their first letter and text after the value.
TEST(JsonParse, Documents) {
    JsonValue v = parse(R"({"b": [1, -2.5e1, "x", true, false, null], "a": {"c": "d"}})");
    ASSERT_EQ(v.kind, JsonKind::Object);
    ASSERT_EQ(v.object.size(), 2u);
    EXPECT_EQ(v.object.begin()->first, "a");  // byte-wise key order
    const JsonValue& b = v["b"];
    ASSERT_EQ(b.array.size(), 6u);
    EXPECT_EQ(b.array[0].number, 1.0);
    EXPECT_EQ(b.array[1].number, -25.0);
    EXPECT_EQ(b.array[2].string, "x");
    EXPECT_TRUE(b.array[3].kind == JsonKind::Boolean && b.array[3].boolean);
    EXPECT_TRUE(b.array[4].kind == JsonKind::Boolean && !b.array[4].boolean);
    EXPECT_EQ(b.array[5].kind, JsonKind::Null);
    EXPECT_EQ(v["a"]["c"].string, "d");

    EXPECT_TRUE(parse("{}").kind == JsonKind::Object && parse("{}").object.empty());
    EXPECT_TRUE(parse(" [ ] ").kind == JsonKind::Array && parse(" [ ] ").array.empty());
    const JsonValue dup = parse(R"({"a": 1, "a": 2})");
    EXPECT_EQ(dup.object.size(), 1u);
    EXPECT_EQ(dup["a"].number, 2.0);  // the last value wins
    const JsonValue trailing = parse("[1,2,]");  // the trailing comma adds a zero
    ASSERT_EQ(trailing.array.size(), 3u);
    EXPECT_TRUE(trailing.array[2].kind == JsonKind::Number && trailing.array[2].number == 0.0);

    const JsonValue commented = parse(
        "// leading\n{ \"a\": 1, // after a value\n"
        "// between members\n \"b\": [2 // in an array\n ] // before the brace\n}");
    EXPECT_EQ(commented["a"].number, 1.0);
    ASSERT_EQ(commented["b"].array.size(), 1u);
    EXPECT_EQ(commented["b"].array[0].number, 2.0);

    // The letters after a literal's first are skipped unchecked, and parsing
    // continues after them.
    const JsonValue literals = parse("[fxxxx, nope, tabc]");
    ASSERT_EQ(literals.array.size(), 3u);
    EXPECT_TRUE(literals.array[0].kind == JsonKind::Boolean && !literals.array[0].boolean);
    EXPECT_EQ(literals.array[1].kind, JsonKind::Null);
    EXPECT_TRUE(literals.array[2].boolean);

    const std::string after = "{} trailing ]]]";
    JsonParser p(after.data(), after.data() + after.size());
    EXPECT_EQ(p.parse_value().kind, JsonKind::Object);
    EXPECT_EQ(p.remaining(), after.size() - 2);
}

TEST(JsonParse, SingleValues) {
    const std::string long_number = "1." + std::string(300, '0') + "1";
    const struct {
        const char* what;
        std::string text;
        JsonKind kind;
        double number;
        std::string string;
    } cases[] = {
        {"empty input", "", JsonKind::Number, 0.0, ""},
        {"byte order mark", "\xEF\xBB\xBF{\"animation\": {}}", JsonKind::Number, 0.0, ""},
        {"literal by its first letters", "tru", JsonKind::Boolean, 0.0, ""},
        {"hexadecimal", "0x10", JsonKind::Number, 16.0, ""},
        {"plus and exponent", "+1.5e2", JsonKind::Number, 150.0, ""},
        {"strtod's own whitespace", "\v7", JsonKind::Number, 7.0, ""},
        {"long number text", long_number, JsonKind::Number, 1.0, ""},
        {"unterminated string", "\"abc", JsonKind::String, 0.0, "abc"},
        {"unterminated escape", "\"ab\\", JsonKind::String, 0.0, "ab"},
        {"escapes", R"("a\"b\\c\/d\ne\rf\tg")", JsonKind::String, 0.0, "a\"b\\c/d\ne\rf\tg"},
        {"\\u is a plain letter", R"("\u00e9")", JsonKind::String, 0.0, "u00e9"},
        {"unknown escapes", R"("\b\f\q")", JsonKind::String, 0.0, "bfq"},
        {"UTF-8 passes through", "\"caf\xc3\xa9\"", JsonKind::String, 0.0, "caf\xc3\xa9"},
    };
    for (const auto& c : cases) {
        const JsonValue v = parse(c.text);
        EXPECT_EQ(v.kind, c.kind) << c.what;
        if (c.kind == JsonKind::Number) {
            EXPECT_EQ(v.number, c.number) << c.what;
        }
        EXPECT_EQ(v.boolean, c.kind == JsonKind::Boolean) << c.what;
        EXPECT_EQ(v.string, c.string) << c.what;
    }
    EXPECT_TRUE(std::isinf(parse("-inf").number));
}

// A value at the very end of the input is not read past that end.
TEST(JsonParse, ValuesStopAtTheEndOfTheInput) {
    const std::string digits = "12345";
    JsonParser p(digits.data(), digits.data() + 3);
    EXPECT_EQ(p.parse_value().number, 123.0);
    EXPECT_EQ(p.remaining(), 0u);
    const std::string lone = "n";  // a literal wants more characters
    JsonParser q(lone.data(), lone.data() + lone.size());
    EXPECT_EQ(q.parse_value().kind, JsonKind::Null);
    EXPECT_EQ(q.remaining(), 0u);
}

// Numbers read as strtod reads them in the C locale, under any host
// locale: the same value (bit for bit) and the same characters consumed.
TEST(JsonParse, NumbersIgnoreTheHostLocale) {
    const char* const texts[] = {
        "2.5", "-0.125e-3", "1e400", "-1e400", "1e-400", "4.9e-324", "0.[zeros]1e400",
        "0x1.8p1", "-0X.8", "0x", "0xg", "0x1p", "1e", "1.", ".5", ".", "-", "+-1", "--1",
        "INF", "-Infinity", "NaN(12_ab)", "NAN(", "-nan", " \f 3", "1,5", "12abc"};
    const std::string zeros(400, '0');
    CommaLocale comma;
    SKIP_WITHOUT_COMMA_LOCALE(comma);
    for (std::string text : texts) {
        const size_t z = text.find("[zeros]");
        if (z != std::string::npos) text.replace(z, 7, zeros);
        const std::string doc = text + "]";
        JsonParser p(doc.data(), doc.data() + doc.size());
        const double got = p.parse_value().number;
        std::setlocale(LC_NUMERIC, "C");
        char* stop = nullptr;
        const double want = std::strtod(text.c_str(), &stop);
        const size_t used = stop == text.c_str() ? 0 : static_cast<size_t>(stop - text.c_str());
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got) == 0 || (std::isnan(got) && std::isnan(want)),
                  true)
            << text << ": " << got << " vs " << want;
        EXPECT_EQ(p.remaining(), doc.size() - used) << text;
    }
    EXPECT_EQ(parse(R"({"a": 2.5})")["a"].number, 2.5);
}

TEST(JsonErrors, MessagesNameExpectedAndFound) {
    const struct { const char* text; const char* message; } cases[] = {
        {R"({"a" 1})", "Expected ':', got '1'"},
        {"[1 2]", "Expected ']', got '2'"},
        {R"({"a": 1 "b": 2})", "Expected '}', got '\"'"},
        {"{a: 1}", "Expected '\"', got 'a'"},
        {R"({"a": 1,})", "Expected '\"', got '}'"},  // no trailing comma in objects
        // At the end of the input the found character reads as NUL.
        {"[1,", "Expected ']', got '"},
        {"{", "Expected '\"', got '"},
        {"[f", "Expected ']', got '"},
        {"[1 // no newline", "Expected ']', got '"},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_error(c.text), c.message) << c.text;

    const std::string blank = "  ";
    JsonParser p(blank.data(), blank.data() + blank.size());
    EXPECT_THROW(p.expect(':'), std::runtime_error);
    EXPECT_EQ(p.remaining(), 0u);
}

// Runs `fn` on a thread with a 128 KiB stack, musl's default.
void on_small_stack(void (*fn)()) {
    constexpr size_t kSmallStack = 128 * 1024;
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kSmallStack), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* f) -> void* {
                      reinterpret_cast<void (*)()>(f)();
                      return nullptr;
                  },
                  reinterpret_cast<void*>(fn)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// Nesting up to the limit parses (and is destroyed) on a small thread stack;
// deeper input is refused with a message.
TEST(JsonErrors, DeepNestingIsSafeOnSmallStacks) {
    on_small_stack([] {
        std::string arrays = std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']');
        std::string objects;
        for (int i = 0; i < kJsonMaxDepth; ++i) objects += "{\"a\":";
        objects += "1" + std::string(kJsonMaxDepth, '}');
        for (const std::string& text : {arrays, objects}) {
            const JsonValue v = parse(text);
            EXPECT_NE(v.kind, JsonKind::Number);
        }
        const std::string deep(1000000, '[');
        const std::string msg = parse_error(deep);
        EXPECT_EQ(msg, "JSON nested deeper than " + std::to_string(kJsonMaxDepth) + " levels");
        EXPECT_EQ(parse_error("[" + arrays + "]"), msg);
        EXPECT_EQ(parse_error("[" + objects + "]"), msg);
    });
}

TEST(JsonValueLookup, MissingKeysAndNonObjectsGiveSharedNull) {
    JsonValue v = parse(R"({"a": [1]})");
    const JsonValue& missing = v["zz"];
    EXPECT_EQ(missing.kind, JsonKind::Null);
    EXPECT_EQ(&missing, &v["a"]["x"]);  // an array has no members
    EXPECT_EQ(&missing, &v["zz"]["deeper"]);
    EXPECT_TRUE(missing.object.empty());
    EXPECT_TRUE(missing.string.empty());
}

}  // namespace
