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

using zvtest::N;
using zvtest::W;

// The record as "scheme|host|port|path|transport|link|attributes", "~" for
// a null field, the attributes up to the last one set.
std::string Render(const ParsedURI& r) {
    auto field = [](const ZVWCHAR* p) { return p ? N(p) : std::string("~"); };
    std::string out = field(r.scheme) + "|" + field(r.host) + "|" + field(r.port) + "|" +
                      field(r.path) + "|" + field(r.transport) + "|" + field(r.link) + "|";
    int set = 8;
    while (set > 0 && !r.attributes[set - 1]) --set;
    for (int i = 0; i < set; ++i) out += (i ? "," : "") + field(r.attributes[i]);
    return out;
}

// Parses input between guard units, checks that only delimiters turned into
// terminators and that every field points into the text, and parses it again
// in an allocation of exactly its size, so that ASan sees any access outside.
// Returns the fields or "refused"; *after gets the text, "#" for terminators.
std::string Parse(const char* input, std::string* after = nullptr) {
    const std::u16string original = W(input);
    const size_t length = original.size();
    std::vector<ZVWCHAR> guarded(length + 17, 0xBEEF);
    std::copy(original.c_str(), original.c_str() + length + 1, guarded.begin() + 8);
    ZVWCHAR* text = guarded.data() + 8;
    ParsedURI record;
    memset(&record, 0xA5, sizeof record);
    const int32_t result = ParseURI(text, &record);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_TRUE(guarded[i] == 0xBEEF && text[length + 1 + i] == 0xBEEF) << input;
    EXPECT_EQ(text[length], 0) << input;
    std::string shown;
    for (size_t i = 0; i < length; ++i) {
        EXPECT_TRUE(text[i] == original[i] || (text[i] == 0 && strchr("/:,=", input[i])))
            << input << " at " << i;
        shown += text[i] ? char(text[i]) : '#';
    }
    if (after) *after = shown;
    std::unique_ptr<ZVWCHAR[]> exact(new ZVWCHAR[length + 1]);
    std::copy(original.c_str(), original.c_str() + length + 1, exact.get());
    ParsedURI again;
    EXPECT_EQ(ParseURI(exact.get(), &again), result) << input;
    if (result != 0) return result == 1 ? "refused" : "result " + std::to_string(result);
    static_assert(sizeof(ParsedURI) == 14 * sizeof(ZVWCHAR*), "fourteen pointers");
    for (ZVWCHAR* const* p = &record.scheme; p < &record.scheme + 14; ++p)
        EXPECT_TRUE(!*p || (*p >= text && *p <= text + length)) << input;
    return Render(record);
}

const char* const kAccepted[][2] = {
    {"dbname", "~|~|~|dbname|~|~|"},
    {"proto:dbname", "proto|~|~|dbname|~|~|"},
    {"server:dbname", "server|~|~|dbname|~|~|"},  // a host-like word is a scheme
    {"proto://server:99,t=a1,l=b2,mode=r,flag/dbname", "proto|server|99|dbname|a1|b2|mode,r,flag"},
    {"//server/dbname", "~|server|~|dbname|~|~|"},
    {"proto:///dbname", "proto|~|~|dbname|~|~|"},  // an empty host is no host
    {"//:99/p", "~|~|99|p|~|~|"},
    {"//server:/p", "~|server||p|~|~|"},  // a port may be empty
    {"//s:1,a=/p", "~|s|1|p|~|~|a,"},
    {"//,a/p", "~|~|~|p|~|~|a"},
    {"//s,=v/p", "~|s|~|p|~|~|,v"},
    // Four ordinary attributes fit; keywords take no place, wherever
    // they stand, and the later of two values wins.
    {"//s,a,b,c,d/p", "~|s|~|p|~|~|a,~,b,~,c,~,d"},
    {"//s,a=1,b,c=3,d/p", "~|s|~|p|~|~|a,1,b,~,c,3,d"},
    {"//s,t=1,l=2,a,b,c,d/p", "~|s|~|p|1|2|a,~,b,~,c,~,d"},
    {"//s,a,b,c,t=1,d/p", "~|s|~|p|1|~|a,~,b,~,c,~,d"},
    {"//s,a=1,b=2,c=3,link=x,d=4/p", "~|s|~|p|~|x|a,1,b,2,c,3,d,4"},
    {"//s,transport=tcp,t=/p", "~|s|~|p||~|"},
    {"//s,link=1,a,l=2/p", "~|s|~|p|~|2|a"},
    // Keywords need "=" and compare exactly, case included.
    {"//s,t,l/p", "~|s|~|p|~|~|t,~,l"},
    {"//s,T=1,tr=2,Transport=3,lin=4/p", "~|s|~|p|~|~|T,1,tr,2,Transport,3,lin,4"},
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
        {"proto://s,a,,/p", "proto://s,a,,/p"},
        {"proto://server:99,t=a1,,l=b2/dbname", "proto://server:99,t=a1,,l=b2/dbname"},
    };
    for (const auto& c : cases) {
        std::string after;
        EXPECT_EQ(Parse(c[0], &after), "refused") << c[0];
        EXPECT_EQ(after, c[1]);
    }
    // Accepted: only the scheme's colon and the slash after the authority.
    std::string after;
    EXPECT_EQ(Parse("proto://s/p", &after), "proto|s|~|p|~|~|");
    EXPECT_EQ(after, "proto#//s#p");
}

TEST(ParseURI, NullArgumentsTouchNothing) {
    ParsedURI record, before;
    memset(&record, 0x5A, sizeof record);
    before = record;
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
