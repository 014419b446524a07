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

TEST(JsonParse, EmptyObjectAndArray) {
    JsonValue o = parse("{}");
    EXPECT_EQ(o.kind, JsonKind::Object);
    EXPECT_TRUE(o.object.empty());
    JsonValue a = parse(" [ ] ");
    EXPECT_EQ(a.kind, JsonKind::Array);
    EXPECT_TRUE(a.array.empty());
}

TEST(JsonParse, StandardDocument) {
    JsonValue v = parse(R"({"b": [1, -2.5e1, "x", true, false, null], "a": {"c": "d"}})");
    ASSERT_EQ(v.kind, JsonKind::Object);
    ASSERT_EQ(v.object.size(), 2u);
    EXPECT_EQ(v.object.begin()->first, "a");  // byte-wise key order
    const JsonValue& b = v["b"];
    ASSERT_EQ(b.array.size(), 6u);
    EXPECT_EQ(b.array[0].number, 1.0);
    EXPECT_EQ(b.array[1].number, -25.0);
    EXPECT_EQ(b.array[2].string, "x");
    EXPECT_EQ(b.array[3].kind, JsonKind::Boolean);
    EXPECT_TRUE(b.array[3].boolean);
    EXPECT_EQ(b.array[4].kind, JsonKind::Boolean);
    EXPECT_FALSE(b.array[4].boolean);
    EXPECT_EQ(b.array[5].kind, JsonKind::Null);
    EXPECT_EQ(v["a"]["c"].string, "d");
}

TEST(JsonParse, TrailingCommaInArrayAddsZero) {
    JsonValue v = parse("[1,2,]");
    ASSERT_EQ(v.array.size(), 3u);
    EXPECT_EQ(v.array[0].number, 1.0);
    EXPECT_EQ(v.array[1].number, 2.0);
    EXPECT_EQ(v.array[2].kind, JsonKind::Number);
    EXPECT_EQ(v.array[2].number, 0.0);
}

TEST(JsonParse, TrailingCommaInObjectThrows) {
    EXPECT_EQ(parse_error(R"({"a": 1,})"), "Expected '\"', got '}'");
}

TEST(JsonParse, DuplicateKeyKeepsLastValue) {
    JsonValue v = parse(R"({"a": 1, "a": 2})");
    ASSERT_EQ(v.object.size(), 1u);
    EXPECT_EQ(v["a"].number, 2.0);
}

TEST(JsonParse, LiteralsByFirstLetter) {
    JsonValue t = parse("tru");
    EXPECT_EQ(t.kind, JsonKind::Boolean);
    EXPECT_TRUE(t.boolean);
    // The letters after the first are skipped unchecked: "fxxxx" is false and
    // "nope" is null, and parsing continues after them.
    JsonValue a = parse("[fxxxx, nope, tabc]");
    ASSERT_EQ(a.array.size(), 3u);
    EXPECT_FALSE(a.array[0].boolean);
    EXPECT_EQ(a.array[0].kind, JsonKind::Boolean);
    EXPECT_EQ(a.array[1].kind, JsonKind::Null);
    EXPECT_TRUE(a.array[2].boolean);
}

TEST(JsonParse, LiteralAtEndStopsAtEnd) {
    // "f" alone wants five characters; the position must stop at the end and
    // a following read sees the end, not memory beyond it.
    EXPECT_EQ(parse_error("[f"), "Expected ']', got '");
    const std::string lone = "n";
    JsonParser q(lone.data(), lone.data() + lone.size());
    EXPECT_EQ(q.parse_value().kind, JsonKind::Null);
    EXPECT_EQ(q.remaining(), 0u);
}

TEST(JsonParse, UnterminatedStringReturnsWhatWasRead) {
    EXPECT_EQ(parse("\"abc").string, "abc");
    EXPECT_EQ(parse("\"ab\\").string, "ab");
}

TEST(JsonParse, Escapes) {
    EXPECT_EQ(parse(R"("a\"b\\c\/d\ne\rf\tg")").string, "a\"b\\c/d\ne\rf\tg");
    EXPECT_EQ(parse(R"("\u00e9")").string, "u00e9");
    EXPECT_EQ(parse(R"("\b\f\q")").string, "bfq");
    EXPECT_EQ(parse("\"caf\xc3\xa9\"").string, "caf\xc3\xa9");  // UTF-8 passes through
}

TEST(JsonParse, CommentsAreSkipped) {
    JsonValue v = parse(
        "// leading\n{ \"a\": 1, // after a value\n"
        "// between members\n \"b\": [2 // in an array\n ] // before the brace\n}");
    EXPECT_EQ(v["a"].number, 1.0);
    ASSERT_EQ(v["b"].array.size(), 1u);
    EXPECT_EQ(v["b"].array[0].number, 2.0);
}

TEST(JsonParse, CommentRunningToEndOfInput) {
    EXPECT_EQ(parse_error("[1 // no newline"), "Expected ']', got '");
}

TEST(JsonParse, ByteOrderMarkReadsAsNumberZero) {
    JsonValue v = parse("\xEF\xBB\xBF{\"animation\": {}}");
    EXPECT_EQ(v.kind, JsonKind::Number);
    EXPECT_EQ(v.number, 0.0);
}

TEST(JsonParse, NumbersFollowStrtod) {
    EXPECT_EQ(parse("0x10").number, 16.0);
    EXPECT_EQ(parse("+1.5e2").number, 150.0);
    EXPECT_TRUE(std::isinf(parse("-inf").number));
    EXPECT_EQ(parse("\v7").number, 7.0);  // strtod's own whitespace
    // A number at the very end of the input is not read past that end.
    const std::string digits = "12345";
    JsonParser p(digits.data(), digits.data() + 3);
    EXPECT_EQ(p.parse_value().number, 123.0);
    EXPECT_EQ(p.remaining(), 0u);
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

TEST(JsonParse, LongNumberText) {
    const std::string text = "1." + std::string(300, '0') + "1";
    EXPECT_DOUBLE_EQ(parse(text).number, 1.0);
}

TEST(JsonParse, EmptyInputIsNumberZero) {
    JsonValue v = parse("");
    EXPECT_EQ(v.kind, JsonKind::Number);
    EXPECT_EQ(v.number, 0.0);
}

TEST(JsonParse, TextAfterTheValueIsIgnored) {
    const std::string text = "{} trailing ]]]";
    JsonParser p(text.data(), text.data() + text.size());
    EXPECT_EQ(p.parse_value().kind, JsonKind::Object);
    EXPECT_EQ(p.remaining(), text.size() - 2);
}

TEST(JsonErrors, MessagesNameExpectedAndFound) {
    EXPECT_EQ(parse_error(R"({"a" 1})"), "Expected ':', got '1'");
    EXPECT_EQ(parse_error("[1 2]"), "Expected ']', got '2'");
    EXPECT_EQ(parse_error(R"({"a": 1 "b": 2})"), "Expected '}', got '\"'");
    EXPECT_EQ(parse_error("{a: 1}"), "Expected '\"', got 'a'");
    EXPECT_EQ(parse_error("[1,"), "Expected ']', got '");
    EXPECT_EQ(parse_error("{"), "Expected '\"', got '");
}

TEST(JsonErrors, ExpectAtEndReadsNul) {
    const std::string text = "  ";
    JsonParser p(text.data(), text.data() + text.size());
    try {
        p.expect(':');
        FAIL() << "expect did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Expected ':', got '");
    }
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

TEST(JsonParserApi, ParseStringValRequiresQuote) {
    const std::string text = "  // c\n \"k\" x";
    JsonParser p(text.data(), text.data() + text.size());
    EXPECT_EQ(p.parse_string_val(), "k");
    try {
        p.parse_string_val();
        FAIL() << "no throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Expected '\"', got 'x'");
    }
}

}  // namespace
