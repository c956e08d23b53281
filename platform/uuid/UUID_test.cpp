#include "platform/coding/JSON.hpp"
#include "platform/uuid/UUID.hpp"
#include "platform/uuid/UUIDCoding.hpp"

#include <gtest/gtest.h>

#include <set>
#include <unordered_set>

namespace velmor {
namespace {

TEST(UUID, RandomIdentifiersAreVersionFourAndDistinct) {
    std::unordered_set<UUID> seen;
    for (int i = 0; i < 100; ++i) {
        UUID uuid = UUID::random();
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4) << uuid.uuidString();
        EXPECT_EQ(uuid.bytes()[8] >> 6, 2) << uuid.uuidString(); // the RFC 4122 variant
        EXPECT_TRUE(seen.insert(uuid).second) << uuid.uuidString();
    }
}

TEST(UUID, TextIsUpperCaseAndEitherCaseReadsBack) {
    auto uuid = UUID::fromString("0a1b2c3d-4e5f-4a6b-8c7d-9e0fa1b2c3d4");
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->uuidString(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3D4");
    EXPECT_EQ(uuid->bytes()[0], 0x0a);
    EXPECT_EQ(uuid->bytes()[15], 0xd4);
    EXPECT_EQ(UUID::fromString(uuid->uuidString()), uuid);
    EXPECT_EQ(UUID().uuidString(), "00000000-0000-0000-0000-000000000000");

    UUID fresh = UUID::random();
    EXPECT_EQ(UUID::fromString(fresh.uuidString()), fresh);
}

TEST(UUID, MalformedTextIsRefused) {
    const char* texts[] = {
        "",
        "0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3D",   // one digit short
        "0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3D40", // one digit over
        "0A1B2C3D4E5F-4A6B-8C7D-9E0FA1B2C3D4-",  // hyphens misplaced
        "0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3DG",  // not a digit
        "{0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3D}",
    };
    for (const char* text : texts) {
        EXPECT_FALSE(UUID::fromString(text)) << text;
    }
    std::string withNul = "0A1B2C3D-4E5F-4A6B-8C7D-9E0FA1B2C3D4";
    withNul[35] = '\0';
    EXPECT_FALSE(UUID::fromString(withNul));
}

TEST(UUID, OrderFollowsTheBytes) {
    UUID low = *UUID::fromString("00000000-0000-0000-0000-0000000000FF");
    UUID high = *UUID::fromString("01000000-0000-0000-0000-000000000000");
    EXPECT_LT(low, high);
    std::set<UUID> ordered{high, low, UUID()};
    EXPECT_EQ(*ordered.begin(), UUID());
    EXPECT_EQ(*ordered.rbegin(), high);
}

TEST(UUID, CodedAsItsText) {
    using namespace coding;
    UUID uuid = UUID::random();
    Value encoded = encode(uuid);
    EXPECT_EQ(encoded, Value(uuid.uuidString()));
    EXPECT_EQ(decode<UUID>(fromJSON(toJSON(encoded))), uuid);

    try {
        decode<UUID>(Value("not an identifier"));
        ADD_FAILURE() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(error.debugDescription(), "Attempted to decode UUID from invalid UUID string.");
    }
    EXPECT_THROW(decode<UUID>(Value(42)), DecodingError);
}

} // namespace
} // namespace velmor
