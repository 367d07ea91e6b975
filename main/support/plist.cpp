#include "support/plist.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include <plist/plist.h>

#include "support/plist-guard.h"

namespace host {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using OwnedPlist = std::unique_ptr<void, PlistFree>;

Json jsonOf(plist_t node);

Json objectOf(plist_t dict) {
    Json object = Json::object();
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(dict, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, iter, &key, &value);
        if (!key) break;
        object[key] = jsonOf(value);
        free(key);
    }
    free(iter);
    return object;
}

Json arrayOf(plist_t array) {
    Json list = Json::array();
    std::uint32_t size = plist_array_get_size(array);
    for (std::uint32_t i = 0; i < size; ++i) list.push_back(jsonOf(plist_array_get_item(array, i)));
    return list;
}

// By its length: a string may hold U+0000, which the C-string getter asserts on.
Json stringOf(plist_t node) {
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? Json(std::string(text, static_cast<std::size_t>(length))) : Json();
}

Json jsonOf(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: return objectOf(node);
    case PLIST_ARRAY: return arrayOf(node);
    case PLIST_STRING: return stringOf(node);
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return Json(flag != 0);
    }
    case PLIST_UINT: {
        // This library version keeps negative integers as their two's complement.
        std::uint64_t bits = 0;
        plist_get_uint_val(node, &bits);
        return Json(static_cast<std::int64_t>(bits));
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(node, &number);
        return Json(number);
    }
    default: return Json();
    }
}

}  // namespace

std::optional<Json> parsedPropertyList(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    if (propertyListIsRefused(bytes, JSON_NESTING_LIMIT)) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;
    OwnedPlist owned(root);
    return jsonOf(root);
}

std::optional<Json> readPropertyList(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parsedPropertyList(bytes);
}

}  // namespace host
