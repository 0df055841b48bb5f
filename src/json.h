// The JSON library as unifinfo and its tests use it: nlohmann's, with its
// exceptions turned into aborts (JSON_NOEXCEPTION), so that no exception
// can leave it. Every translation unit includes it through this header, so
// that all of them see the library alike. Dump with json_text().
#pragma once

#define JSON_NOEXCEPTION 1
#include <nlohmann/json.hpp>

#include <string>

// Objects keep their keys in the order they were set.
using Json = nlohmann::ordered_json;

// One line of JSON text. Bytes that are not UTF-8 in strings come out as
// U+FFFD, so the text is always valid JSON.
inline std::string json_text(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}
