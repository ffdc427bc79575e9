// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv::kivbook {

struct JsonMember;

// A parsed JSON (or YAML) document: a tree of values, each knowing the line
// it starts on so that a complaint can name it.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text; // a string's characters; a number's or a YAML scalar's literal
    std::vector<JsonValue> items; // an array's
    std::vector<JsonMember> members; // an object's, in order
    int line = 0;

    bool Is(Kind wanted) const { return kind == wanted; }
    // The member of that name (the last one when it is given twice);
    // nullptr when there is none or this is no object.
    const JsonValue* Find(std::string_view key) const;
    // The member's string, or "" when it is missing or not a string.
    std::string StringOf(std::string_view key) const;
};

// One member of an object. (A std::pair would need JsonValue complete where
// JsonValue is being defined, which not every standard library accepts.)
struct JsonMember {
    JsonMember(std::string name, JsonValue value)
        : name(std::move(name))
        , value(std::move(value))
    {
    }
    std::string name;
    JsonValue value;
};

// A document that is not well-formed: what is wrong and on which line.
class JsonError : public std::runtime_error {
public:
    JsonError(int line, const std::string& what)
        : std::runtime_error(what)
        , line_(line)
    {
    }
    int Line() const { return line_; }

private:
    int line_;
};

// Parses a whole JSON text (RFC 8259: UTF-8, nesting at most 256 deep).
JsonValue ParseJson(std::string_view text);

// Standard base64 (RFC 4648), with padding.
std::string Base64(const unsigned char* data, std::size_t size);
// Fails with std::invalid_argument for anything but base64 (white space is
// passed over).
std::vector<unsigned char> FromBase64(std::string_view text);

} // namespace kiv::kivbook
