#include "platform/coding/PropertyList.hpp"

#include "platform/coding/Decoding.hpp"

#include <gtest/gtest.h>

namespace velmor::coding {

TEST(PropertyList, ReadsEveryKindOfValueInOrder) {
    const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>zeta</key><string>text</string>
  <key>alpha</key><array><integer>-5</integer><integer>42</integer><real>2.5</real><true/><false/></array>
  <key>when</key><date>2001-01-02T00:00:00Z</date>
  <key>bytes</key><data>YWJj</data>
  <key>nested</key><dict/>
</dict>
</plist>)";
    Value expected = Object{{"zeta", "text"},
                            {"alpha", Array{-5, 42, 2.5, true, false}},
                            {"when", Date{86400}},
                            {"bytes", Data{{'a', 'b', 'c'}}},
                            {"nested", Object{}}};
    EXPECT_EQ(fromPropertyList(xml), expected);
}

TEST(PropertyList, RejectsWhatIsNoPropertyList) {
    for (const char* text : {"", "not a plist", "<plist><dict><key>a</key></plist"}) {
        try {
            fromPropertyList(text);
            ADD_FAILURE() << text;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        }
    }
}

} // namespace velmor::coding
