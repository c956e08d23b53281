#include "platform/diskimage/DiskImagePlist.hpp"

#include "platform/coding/PropertyList.hpp"
#include "platform/fs/URL.hpp"

#include <gtest/gtest.h>

namespace velmor::diskimage {
namespace {

using coding::Array;
using coding::Object;
using coding::Value;

// The three lines the property-list serializer writes first; readers of the attach output search
// for them.
const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                           "<plist version=\"1.0\">";

TEST(DiskImagePlistTest, AttachOutputListsEveryEntityWithTheHeaderReadersSearchFor) {
    ASSERT_EQ(header.size(), 163u);
    const std::string xml = attachPropertyList({
        {"/dev/loop4", false, std::nullopt},
        {"/dev/loop4p1", true, std::string("/media/root/My Data")},
    });
    EXPECT_EQ(xml.rfind(header, 0), 0u) << xml;
    const Value root = coding::fromPropertyList(xml);
    const Value expected = Object{{"system-entities",
                                   Array{Object{{"dev-entry", "/dev/loop4"}, {"potentially-mountable", false}},
                                         Object{{"dev-entry", "/dev/loop4p1"},
                                                {"potentially-mountable", true},
                                                {"mount-point", "/media/root/My Data"}}}}};
    EXPECT_EQ(root, expected);
}

TEST(DiskImagePlistTest, InfoOutputListsImagesWithTheirEntities) {
    const Value root = coding::fromPropertyList(infoPropertyList({
        {"/tmp/a.img", {{"/dev/loop0", true, std::string("/media/root/A")}}},
        {"/tmp/b & <c>.img", {}},
    }));
    const Value expected =
        Object{{"images", Array{Object{{"image-path", "/tmp/a.img"},
                                       {"system-entities", Array{Object{{"dev-entry", "/dev/loop0"},
                                                                        {"potentially-mountable", true},
                                                                        {"mount-point", "/media/root/A"}}}}},
                                Object{{"image-path", "/tmp/b & <c>.img"}, {"system-entities", Array{}}}}}};
    EXPECT_EQ(root, expected);
    EXPECT_EQ(coding::fromPropertyList(infoPropertyList({})), (Value(Object{{"images", Array{}}})));
}

// A path XML cannot hold is written as its file URL text, which reads back to the same bytes; the
// other images of the listing stay as they are.
TEST(DiskImagePlistTest, InfoOutputStaysReadableWhateverBytesAnImagePathHolds) {
    struct Case {
        std::string path;
        bool plain;
    };
    const Case cases[] = {
        {"/tmp/bad\xff\xfename.img", false},
        {"/tmp/ctl\x01\x1b.img", false},
        {"/tmp/carriage\rreturn.img", false},
        {"/tmp/nonchar\xef\xbf\xbe.img", false},
        {"/tmp/caf\xc3\xa9 new\nline\ttab.img", true},
    };
    for (const Case& c : cases) {
        const std::string xml = infoPropertyList({{"/tmp/first.img", {}}, {c.path, {}}, {"/tmp/last.img", {}}});
        Value root;
        ASSERT_NO_THROW(root = coding::fromPropertyList(xml)) << xml;
        const Array& images = *root.get<Object>()->find("images")->get<Array>();
        ASSERT_EQ(images.size(), 3u) << xml;
        EXPECT_EQ(*images[0].get<Object>()->find("image-path"), Value("/tmp/first.img"));
        EXPECT_EQ(*images[2].get<Object>()->find("image-path"), Value("/tmp/last.img"));
        const std::string written = *images[1].get<Object>()->find("image-path")->get<std::string>();
        if (c.plain) {
            EXPECT_EQ(written, c.path);
        } else {
            EXPECT_EQ(written.rfind("file:///tmp/", 0), 0u) << written;
            EXPECT_EQ(URL::fromAbsoluteString(written).rawPath(), c.path) << written;
        }
    }
}

} // namespace
} // namespace velmor::diskimage
