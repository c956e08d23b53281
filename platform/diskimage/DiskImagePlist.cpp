#include "platform/diskimage/DiskImagePlist.hpp"

#include "platform/diskimage/PathText.hpp"

#include <plist/plist.h>

#include <memory>

namespace velmor::diskimage {

namespace {

using Node = std::unique_ptr<void, decltype(&plist_free)>;

plist_t entitiesArray(const std::vector<SystemEntity>& entities) {
    plist_t array = plist_new_array();
    for (const auto& entity : entities) {
        plist_t item = plist_new_dict();
        plist_dict_set_item(item, "dev-entry", plist_new_string(entity.devEntry.c_str()));
        plist_dict_set_item(item, "potentially-mountable", plist_new_bool(entity.potentiallyMountable ? 1 : 0));
        if (entity.mountPoint) {
            plist_dict_set_item(item, "mount-point", plist_new_string(pathText(*entity.mountPoint).c_str()));
        }
        plist_array_append_item(array, item);
    }
    return array;
}

std::string toXML(plist_t root) {
    Node owner(root, &plist_free);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text = xml != nullptr ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    return text;
}

} // namespace

std::string attachPropertyList(const std::vector<SystemEntity>& entities) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "system-entities", entitiesArray(entities));
    return toXML(root);
}

std::string infoPropertyList(const std::vector<AttachedImage>& images) {
    plist_t list = plist_new_array();
    for (const auto& image : images) {
        plist_t item = plist_new_dict();
        plist_dict_set_item(item, "image-path", plist_new_string(pathText(image.imagePath).c_str()));
        plist_dict_set_item(item, "system-entities", entitiesArray(image.entities));
        plist_array_append_item(list, item);
    }
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "images", list);
    return toXML(root);
}

} // namespace velmor::diskimage
