#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmor::testing {

// Writes binary property lists ("bplist00") object by object, so a test can make ones that no
// writer would: deeper than any reader allows, looping, or pointing past their last object.
// References and offsets are 4 bytes wide.
class BinaryPropertyListWriter {
public:
    // Each adds one object and returns its number.
    std::size_t string(const std::string& ascii) {
        std::string body = header(0x5, ascii.size());
        return add(body + ascii);
    }
    std::size_t data(const std::string& bytes) {
        std::string body = header(0x4, bytes.size());
        return add(body + bytes);
    }
    std::size_t array(const std::vector<std::size_t>& elements) {
        std::string body = header(0xA, elements.size());
        for (std::size_t element : elements) {
            body += word(element);
        }
        return add(body);
    }
    std::size_t dictionary(const std::vector<std::pair<std::size_t, std::size_t>>& entries) {
        std::string body = header(0xD, entries.size());
        for (const auto& entry : entries) {
            body += word(entry.first);
        }
        for (const auto& entry : entries) {
            body += word(entry.second);
        }
        return add(body);
    }
    // An object given whole, marker first, for kinds the other calls do not make.
    std::size_t raw(std::string object) { return add(std::move(object)); }
    // The next object's number, for references to an object not added yet.
    std::size_t next() const { return objects_.size(); }

    // The document with `top` as its top object.
    std::string bytes(std::size_t top) const {
        std::string document = "bplist00";
        std::vector<std::size_t> offsets;
        for (const std::string& object : objects_) {
            offsets.push_back(document.size());
            document += object;
        }
        const std::size_t table = document.size();
        for (std::size_t offset : offsets) {
            document += word(offset);
        }
        document += std::string(6, '\0');
        document += '\x04'; // offset width
        document += '\x04'; // reference width
        document += wide(objects_.size()) + wide(top) + wide(table);
        return document;
    }

private:
    static std::string word(std::uint64_t value) {
        std::string text(4, '\0');
        for (int index = 3; index >= 0; --index, value >>= 8) {
            text[static_cast<std::size_t>(index)] = static_cast<char>(value & 0xFF);
        }
        return text;
    }
    static std::string wide(std::uint64_t value) { return word(value >> 32) + word(value & 0xFFFFFFFF); }
    // A marker with its count, which past 14 follows as a 4-byte integer object.
    static std::string header(unsigned kind, std::size_t count) {
        if (count < 15) {
            return std::string(1, static_cast<char>((kind << 4) | count));
        }
        return std::string(1, static_cast<char>((kind << 4) | 0xF)) + '\x12' + word(count);
    }
    std::size_t add(std::string object) {
        objects_.push_back(std::move(object));
        return objects_.size() - 1;
    }

    std::vector<std::string> objects_;
};

// `depth` arrays, each holding the next; the innermost is empty.
inline std::string nestedBinaryArrays(std::size_t depth) {
    BinaryPropertyListWriter writer;
    for (std::size_t level = 1; level < depth; ++level) {
        writer.array({level});
    }
    writer.array({});
    return writer.bytes(0);
}

// `depth` dictionaries, each holding the next under the key "k"; the innermost is empty.
inline std::string nestedBinaryDictionaries(std::size_t depth) {
    BinaryPropertyListWriter writer;
    const std::size_t key = writer.string("k");
    for (std::size_t level = 1; level < depth; ++level) {
        writer.dictionary({{key, writer.next() + 1}});
    }
    writer.dictionary({});
    return writer.bytes(1);
}

// A dictionary holding, under "k", `outer` arrays that are one array holding `inner` references to
// `leaf`: small, yet each reference stands for a copy of the leaf once read out.
template <typename AddLeaf> std::string sharedLeaves(AddLeaf addLeaf, std::size_t inner, std::size_t outer) {
    BinaryPropertyListWriter writer;
    const std::size_t key = writer.string("k");
    const std::size_t leaf = addLeaf(writer);
    const std::size_t innerArray = writer.array(std::vector<std::size_t>(inner, leaf));
    const std::size_t outerArray = writer.array(std::vector<std::size_t>(outer, innerArray));
    const std::size_t top = writer.dictionary({{key, outerArray}});
    return writer.bytes(top);
}

// A binary property list that a reader must refuse, with what is wrong with it.
struct HostilePropertyList {
    std::string what;
    std::string bytes;
    // Refused for its nesting, with the coding layer's message for that.
    bool nestsTooDeeply;
};

// Deep nesting in arrays and dictionaries, loops and references to objects that do not exist, each
// with a top-level dictionary where one fits, so a reader that wants one gets past that test.
inline std::vector<HostilePropertyList> hostileBinaryPropertyLists() {
    std::vector<HostilePropertyList> lists;
    for (std::size_t depth : {std::size_t{100000}, std::size_t{200000}}) {
        lists.push_back({std::to_string(depth) + " arrays deep", nestedBinaryArrays(depth), true});
        lists.push_back(
            {std::to_string(depth) + " dictionaries deep", nestedBinaryDictionaries(depth), true});
    }
    {
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        writer.dictionary({{key, writer.next()}}); // holds itself
        lists.push_back({"a dictionary within itself", writer.bytes(1), false});
    }
    {
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        writer.dictionary({{key, writer.next() + 1}});
        writer.array({writer.next() - 1}); // back to the dictionary
        lists.push_back({"a loop through two objects", writer.bytes(1), false});
    }
    {
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        writer.dictionary({{key, writer.next() + 1}});
        lists.push_back({"a value past the last object", writer.bytes(1), false});
    }
    {
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        writer.dictionary({{key + 7, key}});
        lists.push_back({"a key past the last object", writer.bytes(1), false});
    }
    {
        BinaryPropertyListWriter writer;
        writer.string("k");
        lists.push_back({"a top object past the last", writer.bytes(1), false});
    }
    {
        // Each array holds the next twice: 2^100 nodes once the references are followed.
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        writer.dictionary({{key, writer.next() + 1}});
        for (std::size_t level = 0; level < 100; ++level) {
            writer.array({writer.next() + 1, writer.next() + 1});
        }
        writer.array({});
        lists.push_back({"shared arrays that multiply", writer.bytes(1), false});
    }
    {
        // 270,000 references to one integer: no more values than the 1 MB file has bytes, yet far
        // more than any reader's document holds, each a node of its own once read out.
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        const std::size_t one = writer.raw("\x10\x01");
        const std::size_t array = writer.array(std::vector<std::size_t>(270000, one));
        const std::size_t top = writer.dictionary({{key, array}});
        lists.push_back({"one integer shared 270,000 times", writer.bytes(top), false});
    }
    // 10,000 references to one 4 KiB leaf: 40 MB once each is copied out, from a 5 KB file.
    const std::string big(4096, 'x');
    lists.push_back({"one string shared 10,000 times",
                     sharedLeaves([&](BinaryPropertyListWriter& writer) { return writer.string(big); }, 100, 100),
                     false});
    lists.push_back({"one data shared 10,000 times",
                     sharedLeaves([&](BinaryPropertyListWriter& writer) { return writer.data(big); }, 100, 100),
                     false});
    {
        // The same 4 KiB key 100 times in one dictionary, that dictionary 100 times.
        BinaryPropertyListWriter writer;
        const std::size_t key = writer.string("k");
        const std::size_t bigKey = writer.string(big);
        const std::size_t value = writer.string("v");
        const std::size_t dictionary =
            writer.dictionary(std::vector<std::pair<std::size_t, std::size_t>>(100, {bigKey, value}));
        const std::size_t array = writer.array(std::vector<std::size_t>(100, dictionary));
        const std::size_t top = writer.dictionary({{key, array}});
        lists.push_back({"one key shared 10,000 times", writer.bytes(top), false});
    }
    return lists;
}

} // namespace velmor::testing
