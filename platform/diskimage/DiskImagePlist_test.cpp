#include "platform/diskimage/DiskImagePlist.hpp"

#include "platform/coding/PropertyList.hpp"

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

} // namespace
} // namespace velmor::diskimage
