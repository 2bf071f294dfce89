// ParseURI: the accepted forms, the refusals, the attribute places and
// keywords, and that the parser writes nothing but terminators at delimiters
// inside the caller's text.
#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "zv.h"

namespace {

using namespace zvtest;

// The record's fields in their order (scheme, host, port, path, link,
// transport, attributes) with "|" between them and "~" for null, the
// attributes up to the last one set.
std::string Render(const ParsedURI& r) {
    const ZVWCHAR* field[14] = {r.scheme, r.host, r.port, r.path, r.link, r.transport};
    std::copy(r.attributes, r.attributes + 8, field + 6);
    int count = 14;
    while (count > 6 && !field[count - 1]) --count;
    std::string out;
    for (int i = 0; i < count; ++i) out += (i ? "|" : "") + (field[i] ? N(field[i]) : std::string("~"));
    return out;
}

// Parses input in an allocation of exactly its size, so that ASan sees any
// access outside, and checks that only delimiters turned into terminators.
// Returns the fields or "refused"; *after gets the text, "#" for terminators.
std::string Parse(const char* input, std::string* after = nullptr) {
    const std::u16string original = W(input);
    std::unique_ptr<ZVWCHAR[]> text(new ZVWCHAR[original.size() + 1]);
    std::copy(original.c_str(), original.c_str() + original.size() + 1, text.get());
    ParsedURI record;
    memset(&record, 0xA5, sizeof record);
    const int32_t result = ParseURI(text.get(), &record);
    std::string shown;
    for (size_t i = 0; i <= original.size(); ++i) {
        EXPECT_TRUE(text[i] == original[i] || (text[i] == 0 && strchr("/:,=", input[i])))
            << input << " at " << i;
        shown += text[i] ? char(text[i]) : '#';
    }
    if (after) *after = shown.substr(0, original.size());
    EXPECT_TRUE(result == 0 || result == 1) << input;
    return result ? "refused" : Render(record);
}

const char* const kAccepted[][2] = {
    {"dbname", "~|~|~|dbname|~|~"}, {"proto:dbname", "proto|~|~|dbname|~|~"},
    {"server:dbname", "server|~|~|dbname|~|~"},  // a host-like word is a scheme
    {"proto://server:99,t=a1,l=b2,mode=r,flag/dbname", "proto|server|99|dbname|b2|a1|mode|r|flag"},
    {"//server/dbname", "~|server|~|dbname|~|~"},
    {"proto:///dbname", "proto|~|~|dbname|~|~"},  // an empty host is no host
    {"//:99/p", "~|~|99|p|~|~"}, {"//server:/p", "~|server||p|~|~"},  // a port may be empty
    {"//s:1,a=/p", "~|s|1|p|~|~|a|"}, {"//,a/p", "~|~|~|p|~|~|a"}, {"//s,=v/p", "~|s|~|p|~|~||v"},
    // Four ordinary attributes fit; keywords take no place, wherever they
    // stand, and the later of two values wins.
    {"//s,a,b,c,d/p", "~|s|~|p|~|~|a|~|b|~|c|~|d"}, {"//s,a=1,b,c=3,d/p", "~|s|~|p|~|~|a|1|b|~|c|3|d"},
    {"//s,t=1,l=2,a,b,c,d/p", "~|s|~|p|2|1|a|~|b|~|c|~|d"}, {"//s,a,b,c,t=1,d/p", "~|s|~|p|~|1|a|~|b|~|c|~|d"},
    {"//s,a=1,b=2,c=3,link=x,d=4/p", "~|s|~|p|x|~|a|1|b|2|c|3|d|4"},
    {"//s,transport=tcp,t=/p", "~|s|~|p|~|"}, {"//s,link=1,a,l=2/p", "~|s|~|p|2|~|a"},
    // Keywords need "=" and compare exactly, case included.
    {"//s,t,l/p", "~|s|~|p|~|~|t|~|l"}, {"//s,T=1,tr=2,Transport=3,lin=4/p", "~|s|~|p|~|~|T|1|tr|2|Transport|3|lin|4"},
};

TEST(ParseURI, AcceptedFormsAndTheirFields) {
    for (const auto& c : kAccepted) EXPECT_EQ(Parse(c[0]), c[1]) << c[0];
}

TEST(ParseURI, RefusalsAndTheTerminatorsWrittenBeforeThem) {
    for (const char* input :
         {"", "//server/", "//server", "proto://server:99,t=a1", "proto:", "//server/a=b", "a/b", "a=b",
          "proto:a,b", "host:port/dbname", "proto:/dbname", "/dbname", "/x//y", "proto:x//y", "ab//c",
          "a:b:c", "proto::x", "//s:1:2/p", "//s=1/p", "//s:1=2/p", "//s,a=1=2/p", "//s,a:1/p",
          "//s,a=1:2/p", "pro,to://s/p", "pro=to://s/p", ",x", "=x", "//s,a,b,c,d,e/p",
          "//s,a=1,b=2,c=3,d=4,e=5/p", "//s,a,b,c,d,t=1/p", "//s,t,a,b,c,l=1/p"})
        EXPECT_EQ(Parse(input), "refused") << input;
    // A refused slash or comma is left alone, a refused colon overwritten;
    // a double comma anywhere is refused before the text is walked.
    const char* const cases[][2] = {
        {"//s/a/b", "//s#a/b"}, {"//s/a:b", "//s#a#b"}, {"//s/a,b", "//s#a,b"}, {":x", "#x"},
        {"//:", "//#"}, {"/:x//", "/#x//"}, {",,", ",,"}, {"//s/a,,b", "//s/a,,b"},
        {"proto://s,a,,/p", "proto://s,a,,/p"}, {"proto://server:99,t=a1,,l=b2/db", "proto://server:99,t=a1,,l=b2/db"},
    };
    for (const auto& c : cases) {
        std::string after;
        EXPECT_EQ(Parse(c[0], &after), "refused") << c[0];
        EXPECT_EQ(after, c[1]);
    }
    // Accepted: only the scheme's colon and the slash after the authority.
    std::string after;
    EXPECT_EQ(Parse("proto://s/p", &after), "proto|s|~|p|~|~");
    EXPECT_EQ(after, "proto#//s#p");
    // Null arguments are refused with nothing touched.
    ParsedURI record, before;
    memset(&before, 0x5A, sizeof before);
    record = before;
    EXPECT_EQ(ParseURI(nullptr, &record), 1);
    EXPECT_EQ(memcmp(&record, &before, sizeof record), 0);
    std::u16string text = u"proto://s:1/p";
    EXPECT_EQ(ParseURI(&text[0], nullptr), 1);
    EXPECT_EQ(text, u"proto://s:1/p");
}

// No state is shared between calls: threads parsing their own texts at once
// all get the same answers.
TEST(ParseURI, ConcurrentCallsOnDifferentTexts) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i)
                for (const auto& c : kAccepted) ASSERT_EQ(Parse(c[0]), c[1]) << c[0];
        });
    }
    for (std::thread& thread : threads) thread.join();
}

}  // namespace
