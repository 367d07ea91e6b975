#include "support/plist.h"

#include <cstdint>
#include <limits>
#include <memory>

#include <glib.h>
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

plist_t nodeOf(const Json& value) {
    if (value.is_object()) {
        plist_t dict = plist_new_dict();
        for (const auto& [key, member] : value.items()) {
            if (plist_t node = nodeOf(member)) plist_dict_set_item(dict, key.c_str(), node);
        }
        return dict;
    }
    if (value.is_array()) {
        plist_t array = plist_new_array();
        for (const Json& member : value) {
            if (plist_t node = nodeOf(member)) plist_array_append_item(array, node);
        }
        return array;
    }
    if (value.is_string()) return plist_new_string(value.get_ref<const std::string&>().c_str());
    if (value.is_boolean()) return plist_new_bool(value.get<bool>() ? 1 : 0);
    if (value.is_number_integer()) return plist_new_uint(static_cast<std::uint64_t>(value.get<std::int64_t>()));
    if (value.is_number_float()) return plist_new_real(value.get<double>());
    return nullptr;
}

}  // namespace

std::optional<std::string> xmlPropertyListOf(const Json& value) {
    plist_t root = nodeOf(value);
    if (!root) return std::nullopt;
    OwnedPlist owned(root);
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    if (!xml) return std::nullopt;
    std::string text(xml, length);
    free(xml);
    return text;
}

std::optional<Json> parsedPropertyList(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    if (propertyListIsRefused(bytes, JSON_NESTING_LIMIT)) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) return std::nullopt;
    OwnedPlist owned(root);
    return jsonOf(root);
}

// Read with GLib, not a file stream: a stream's first use sets up its locale, a cost every
// start would pay before the shell is spawned.
std::optional<Json> readPropertyList(const std::filesystem::path& file) {
    gchar* bytes = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(file.c_str(), &bytes, &length, nullptr)) return std::nullopt;
    std::optional<Json> list = parsedPropertyList(std::string(bytes, length));
    g_free(bytes);
    return list;
}

}  // namespace host
