// Tests of ParseURI: the accepted forms, the refusals, the attribute places
// and keywords, and that the parser writes nothing but terminators at
// delimiters inside the caller's text.
#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "zv.h"

namespace {

using zvtest::W;

const ZVWCHAR kGuard = 0xBEEF;
const size_t kGuardUnits = 8;

struct Outcome {
    int32_t result = -1;
    std::string fields;  // every field of the record, rendered by Render()
    std::u16string text;  // the text after parsing, terminator excluded
};

// One field: "~" for null, else the text it points at.
std::string Field(const ZVWCHAR* p) { return p == nullptr ? "~" : zvtest::N(p); }

std::string Render(const ParsedURI& r) {
    std::string out = "scheme=" + Field(r.scheme) + " host=" + Field(r.host) +
                      " port=" + Field(r.port) + " path=" + Field(r.path) +
                      " transport=" + Field(r.transport) + " link=" + Field(r.link) + " attrs=";
    for (int i = 0; i < 8; ++i) out += (i ? "," : "") + Field(r.attributes[i]);
    return out;
}

// Parses `input` in a buffer with guard units on both sides and checks the
// things every call must keep: the guards are untouched, every changed unit
// was a delimiter and is now a terminator, and every non-null field points
// inside the text.
Outcome Parse(const char* input) {
    SCOPED_TRACE(input);
    const std::u16string original = W(input);
    const size_t length = original.size();
    std::vector<ZVWCHAR> buffer(kGuardUnits, kGuard);
    buffer.insert(buffer.end(), original.begin(), original.end());
    buffer.push_back(0);
    buffer.insert(buffer.end(), kGuardUnits, kGuard);
    ZVWCHAR* text = buffer.data() + kGuardUnits;

    ParsedURI record;
    memset(&record, 0xA5, sizeof record);
    Outcome outcome;
    outcome.result = ParseURI(text, &record);

    for (size_t i = 0; i < kGuardUnits; ++i) {
        EXPECT_EQ(buffer[i], kGuard) << "unit " << i << " before the text";
        EXPECT_EQ(text[length + 1 + i], kGuard) << "unit " << i << " after the terminator";
    }
    EXPECT_EQ(text[length], 0) << "terminator";
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == original[i]) continue;
        EXPECT_EQ(text[i], 0) << "unit " << i << " changed to something other than 0";
        EXPECT_TRUE(original[i] == u'/' || original[i] == u':' || original[i] == u',' ||
                    original[i] == u'=')
            << "unit " << i << " overwritten but was not a delimiter";
    }

    // Pointers are only checked on success: after a refusal the record may
    // still hold what was stored before the call.
    if (outcome.result == 0) {
        const ZVWCHAR* fields[14] = {record.scheme, record.host, record.port, record.path,
                                     record.link,   record.transport};
        for (int i = 0; i < 8; ++i) fields[6 + i] = record.attributes[i];
        for (const ZVWCHAR* p : fields) {
            if (p == nullptr) continue;
            EXPECT_TRUE(p >= text && p <= text + length) << "field outside";
        }
        outcome.fields = Render(record);
    }
    outcome.text.assign(text, length);
    return outcome;
}

// Expect success with exactly these fields.
void ExpectParsed(const char* input, const std::string& fields) {
    SCOPED_TRACE(input);
    Outcome o = Parse(input);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.fields, fields);
}

void ExpectRefused(const char* input) {
    SCOPED_TRACE(input);
    EXPECT_EQ(Parse(input).result, 1);
}

TEST(ParseURI, BarePathAndScheme) {
    ExpectParsed("dbname",
                 "scheme=~ host=~ port=~ path=dbname transport=~ link=~ attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("proto:dbname",
                 "scheme=proto host=~ port=~ path=dbname transport=~ link=~ "
                 "attrs=~,~,~,~,~,~,~,~");
    // A host-like word before a colon is a scheme.
    ExpectParsed("server:dbname",
                 "scheme=server host=~ port=~ path=dbname transport=~ link=~ "
                 "attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("x", "scheme=~ host=~ port=~ path=x transport=~ link=~ attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("a:b", "scheme=a host=~ port=~ path=b transport=~ link=~ attrs=~,~,~,~,~,~,~,~");
    // Only the scheme's colon is overwritten.
    Outcome o = Parse("proto:dbname");
    EXPECT_EQ(o.text, std::u16string(u"proto\0dbname", 12));
}

TEST(ParseURI, Authority) {
    ExpectParsed("proto://server:99,t=a1,l=b2,mode=r,flag/dbname",
                 "scheme=proto host=server port=99 path=dbname transport=a1 link=b2 "
                 "attrs=mode,r,flag,~,~,~,~,~");
    ExpectParsed("//server/dbname",
                 "scheme=~ host=server port=~ path=dbname transport=~ link=~ "
                 "attrs=~,~,~,~,~,~,~,~");
    // An empty host is no host.
    ExpectParsed("proto:///dbname",
                 "scheme=proto host=~ port=~ path=dbname transport=~ link=~ "
                 "attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("//:99/p", "scheme=~ host=~ port=99 path=p transport=~ link=~ attrs=~,~,~,~,~,~,~,~");
    // A port may be empty, unlike a host.
    ExpectParsed("//server:/p",
                 "scheme=~ host=server port= path=p transport=~ link=~ attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("//s,a/p", "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=a,~,~,~,~,~,~,~");
    ExpectParsed("//s:1,a=/p",
                 "scheme=~ host=s port=1 path=p transport=~ link=~ attrs=a,,~,~,~,~,~,~");
    // An empty host may still carry attributes.
    ExpectParsed("//,a/p", "scheme=~ host=~ port=~ path=p transport=~ link=~ attrs=a,~,~,~,~,~,~,~");
    // A name may be empty too.
    ExpectParsed("//s,=v/p", "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=,v,~,~,~,~,~,~");
    // Neither slash of the "//" is overwritten; the one that ends the
    // authority is.
    Outcome o = Parse("//server/dbname");
    EXPECT_EQ(o.text, std::u16string(u"//server\0dbname", 15));
}

TEST(ParseURI, PathMustBeOneNonEmptyComponent) {
    ExpectRefused("");
    ExpectRefused("//server/");
    ExpectRefused("//server");
    ExpectRefused("proto://server:99,t=a1");
    ExpectRefused("proto:");
    ExpectRefused("//server/a/b");
    ExpectRefused("//server/a:b");
    ExpectRefused("//server/a,b");
    ExpectRefused("//server/a=b");
    ExpectRefused("a/b");
    ExpectRefused("a=b");
    ExpectRefused("proto:a,b");
    // A refused slash is left alone, a refused colon is overwritten.
    EXPECT_EQ(Parse("//s/a/b").text, std::u16string(u"//s\0a/b", 7));
    EXPECT_EQ(Parse("//s/a:b").text, std::u16string(u"//s\0a\0b", 7));
    EXPECT_EQ(Parse("//s/a,b").text, std::u16string(u"//s\0a,b", 7));
}

TEST(ParseURI, ColonsAndSlashes) {
    ExpectRefused("host:port/dbname");
    // A single slash counts only when the text holds "//".
    ExpectRefused("proto:/dbname");
    ExpectRefused("/dbname");
    ExpectRefused("/x//y");
    ExpectRefused("proto:x//y");  // a second scheme
    ExpectRefused("ab//c");       // slash inside a scheme
    ExpectRefused("a:b:c");
    ExpectRefused("proto::x");
    ExpectRefused(":x");
    ExpectRefused("//s:1:2/p");
    ExpectRefused("//s=1/p");
    ExpectRefused("//s:1=2/p");
    ExpectRefused("//s,a=1=2/p");
    ExpectRefused("//s,a:1/p");
    ExpectRefused("//s,a=1:2/p");
    ExpectRefused("pro,to://s/p");
    ExpectRefused("pro=to://s/p");
    ExpectRefused(",x");
    ExpectRefused("=x");
    // A colon at the start is overwritten before the refusal.
    EXPECT_EQ(Parse(":x").text, std::u16string(u"\0x", 2));
    EXPECT_EQ(Parse("//:").text, std::u16string(u"//\0", 3));
    EXPECT_EQ(Parse("/:x//").text, std::u16string(u"/\0x//", 5));
}

TEST(ParseURI, DoubleCommaRefusedWithoutTouchingTheText) {
    for (const char* input : {",,", "a,,b", "//s/a,,b", "//s,,a/p", "proto://s,a,,/p",
                              "proto://server:99,t=a1,,l=b2/dbname"}) {
        SCOPED_TRACE(input);
        Outcome o = Parse(input);
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.text, W(input));  // not walked, so no terminator written
    }
}

TEST(ParseURI, AttributePlaces) {
    // Four ordinary attributes fit, a fifth does not.
    ExpectParsed("//s,a,b,c,d/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=a,~,b,~,c,~,d,~");
    ExpectRefused("//s,a,b,c,d,e/p");
    ExpectParsed("//s,a=1,b=2,c=3,d=4/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=a,1,b,2,c,3,d,4");
    ExpectRefused("//s,a=1,b=2,c=3,d=4,e=5/p");
    ExpectParsed("//s,a=1,b,c=3,d/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=a,1,b,~,c,3,d,~");
    // Keywords take no place, wherever they stand.
    ExpectParsed("//s,t=1,l=2,a,b,c,d/p",
                 "scheme=~ host=s port=~ path=p transport=1 link=2 attrs=a,~,b,~,c,~,d,~");
    ExpectParsed("//s,a,b,c,t=1,d/p",
                 "scheme=~ host=s port=~ path=p transport=1 link=~ attrs=a,~,b,~,c,~,d,~");
    ExpectParsed("//s,a=1,b=2,c=3,link=x,d=4/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=x attrs=a,1,b,2,c,3,d,4");
    // Once four are recorded any further comma is refused, keyword or not.
    ExpectRefused("//s,a,b,c,d,t=1/p");
    ExpectRefused("//s,a=1,b=2,c=3,d=4,l=x/p");
    // A keyword without "=" is an ordinary name.
    ExpectParsed("//s,t,l/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=t,~,l,~,~,~,~,~");
    ExpectRefused("//s,t,a,b,c,l=1/p");
}

TEST(ParseURI, Keywords) {
    ExpectParsed("//s,transport=tcp,link=x/p",
                 "scheme=~ host=s port=~ path=p transport=tcp link=x attrs=~,~,~,~,~,~,~,~");
    // A repeated keyword keeps the later value, in either spelling.
    ExpectParsed("//s,t=1,transport=2/p",
                 "scheme=~ host=s port=~ path=p transport=2 link=~ attrs=~,~,~,~,~,~,~,~");
    ExpectParsed("//s,link=1,a,l=2/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=2 attrs=a,~,~,~,~,~,~,~");
    ExpectParsed("//s,t=/p",
                 "scheme=~ host=s port=~ path=p transport= link=~ attrs=~,~,~,~,~,~,~,~");
    // Names compare exactly and case-sensitively.
    ExpectParsed("//s,T=1,tr=2/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ attrs=T,1,tr,2,~,~,~,~");
    ExpectParsed("//s,Transport=1,links=2,L=3/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ "
                 "attrs=Transport,1,links,2,L,3,~,~");
    ExpectParsed("//s,transports=1,lin=2/p",
                 "scheme=~ host=s port=~ path=p transport=~ link=~ "
                 "attrs=transports,1,lin,2,~,~,~,~");
}

TEST(ParseURI, NullArgumentsTouchNothing) {
    ParsedURI record;
    memset(&record, 0x5A, sizeof record);
    ParsedURI before = record;
    EXPECT_EQ(ParseURI(nullptr, &record), 1);
    EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);

    std::u16string text = u"proto://s:1/p";
    EXPECT_EQ(ParseURI(&text[0], nullptr), 1);
    EXPECT_EQ(text, u"proto://s:1/p");
    EXPECT_EQ(ParseURI(nullptr, nullptr), 1);
}

TEST(ParseURI, RecordIsClearedBeforeParsing) {
    ParsedURI record;
    memset(&record, 0xA5, sizeof record);
    std::u16string text = u"//s,a=1/p";
    ASSERT_EQ(ParseURI(&text[0], &record), 0);
    EXPECT_EQ(record.scheme, nullptr);
    EXPECT_EQ(record.port, nullptr);
    EXPECT_EQ(record.link, nullptr);
    EXPECT_EQ(record.transport, nullptr);
    for (int i = 2; i < 8; ++i) EXPECT_EQ(record.attributes[i], nullptr) << i;
}

// Every input in an allocation of exactly its size, so that under ASan any
// read or write past the terminator is caught.
TEST(ParseURI, NoAccessOutsideTheText) {
    const char* inputs[] = {"",        "/",         "//",           ":",          "proto:",
                            "//s",     "//s:",      "//s,",         "//s,a=",     "//s,t=",
                            "//s/",    "a,,",       "//s,a,b,c,d,", "proto:///",  "//s,a,b,c,d/p",
                            "dbname",  "proto://server:99,t=a1,l=b2,mode=r,flag/dbname"};
    for (const char* input : inputs) {
        SCOPED_TRACE(input);
        const std::u16string source = W(input);
        std::unique_ptr<ZVWCHAR[]> exact(new ZVWCHAR[source.size() + 1]);
        memcpy(exact.get(), source.c_str(), (source.size() + 1) * sizeof(ZVWCHAR));
        ParsedURI record;
        int32_t result = ParseURI(exact.get(), &record);
        EXPECT_EQ(result, Parse(input).result);
    }
}

// No state is shared between calls: many threads parsing their own texts at
// once all get the same answers.
TEST(ParseURI, ConcurrentCallsOnDifferentTexts) {
    const int kThreads = 8;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5000 && std::chrono::steady_clock::now() < deadline; ++i) {
                std::u16string text = (i + t) % 2 ? u"proto://server:99,t=a1,l=b2,mode=r,flag/dbname"
                                                  : u"//s,a,b,c,d,e/p";
                ParsedURI record;
                int32_t result = ParseURI(&text[0], &record);
                bool ok = (i + t) % 2 ? result == 0 && Field(record.path) == "dbname" &&
                                            Field(record.attributes[2]) == "flag"
                                      : result == 1;
                if (!ok) failures.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
