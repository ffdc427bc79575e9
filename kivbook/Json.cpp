// SPDX-License-Identifier: GPL-3.0-or-later
#include "Json.h"

#include "Language.h"

#include <cstdlib>
#include <cstring>

namespace kiv::kivbook {

const JsonValue* JsonValue::Find(std::string_view key) const
{
    const JsonValue* found = nullptr;
    for (const auto& [name, value] : members)
        if (name == key)
            found = &value;
    return found;
}

std::string JsonValue::StringOf(std::string_view key) const
{
    const JsonValue* value = Find(key);
    return value && value->Is(Kind::String) ? value->text : std::string {};
}

namespace {

constexpr int kMaxDepth = 256;

class Parser {
public:
    explicit Parser(std::string_view text)
        : text_(text)
    {
    }

    JsonValue Document()
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            position_ = 3;
        JsonValue value = Value(0);
        Blanks();
        if (position_ != text_.size())
            Fail(N_("text after the end of the document"));
        return value;
    }

private:
    [[noreturn]] void Fail(const char* what) const { throw JsonError(line_, what); }

    void Blanks()
    {
        while (position_ < text_.size()) {
            const char c = text_[position_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++position_;
        }
    }

    bool Take(char c)
    {
        Blanks();
        if (position_ < text_.size() && text_[position_] == c) {
            ++position_;
            return true;
        }
        return false;
    }

    void Expect(char c)
    {
        if (!Take(c))
            Fail(N_("a comma, colon or closing bracket expected"));
    }

    bool Word(std::string_view word)
    {
        if (text_.substr(position_, word.size()) != word)
            return false;
        position_ += word.size();
        return true;
    }

    JsonValue Value(int depth)
    {
        if (depth > kMaxDepth)
            Fail(N_("nested too deeply"));
        Blanks();
        JsonValue value;
        value.line = line_;
        if (position_ >= text_.size())
            Fail(N_("unexpected end of the document"));
        const char c = text_[position_];
        if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            ++position_;
            if (Take('}'))
                return value;
            do {
                Blanks();
                if (position_ >= text_.size() || text_[position_] != '"')
                    Fail(N_("a member name expected"));
                std::string name = String();
                Expect(':');
                value.members.emplace_back(std::move(name), Value(depth + 1));
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            ++position_;
            if (Take(']'))
                return value;
            do
                value.items.push_back(Value(depth + 1));
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            value.kind = JsonValue::Kind::String;
            value.text = String();
        } else if (Word("true") || Word("false")) {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = c == 't';
        } else if (Word("null")) {
            value.kind = JsonValue::Kind::Null;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = JsonValue::Kind::Number;
            const std::size_t start = position_;
            while (position_ < text_.size() && std::string_view("+-.eE0123456789").find(text_[position_]) != std::string_view::npos)
                ++position_;
            value.text = std::string(text_.substr(start, position_ - start));
            char* end = nullptr;
            value.number = std::strtod(value.text.c_str(), &end);
            if (end != value.text.c_str() + value.text.size())
                Fail(N_("a number written wrongly"));
        } else {
            Fail(N_("a value expected"));
        }
        return value;
    }

    unsigned Hex4()
    {
        if (position_ + 4 > text_.size())
            Fail(N_("a \\u escape is cut short"));
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[position_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<unsigned>(c - 'A' + 10);
            else
                Fail(N_("a \\u escape needs four hexadecimal digits"));
        }
        return code;
    }

    static void Append(std::string& out, unsigned code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::string String()
    {
        ++position_; // the opening quote
        std::string out;
        while (true) {
            if (position_ >= text_.size())
                Fail(N_("a string is not closed"));
            const char c = text_[position_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail(N_("a control character inside a string"));
            if (c != '\\') {
                out += c;
                continue;
            }
            if (position_ >= text_.size())
                Fail(N_("a string is not closed"));
            const char e = text_[position_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned code = Hex4();
                if (code >= 0xD800 && code < 0xDC00 && Word("\\u")) {
                    const unsigned low = Hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        Fail(N_("a lone surrogate in a \\u escape"));
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xD800 && code <= 0xDFFF) {
                    Fail(N_("a lone surrogate in a \\u escape"));
                }
                Append(out, code);
                break;
            }
            default:
                Fail(N_("an unknown escape"));
            }
        }
    }

    std::string_view text_;
    std::size_t position_ = 0;
    int line_ = 1;
};

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

JsonValue ParseJson(std::string_view text)
{
    return Parser(text).Document();
}

std::string Base64(const unsigned char* data, std::size_t size)
{
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < size) {
        const unsigned v = data[i] << 16 | (i + 1 < size ? data[i + 1] << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::vector<unsigned char> FromBase64(std::string_view text)
{
    std::vector<unsigned char> out;
    out.reserve(text.size() / 4 * 3);
    unsigned value = 0;
    int bits = 0;
    int padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const char* found = c ? std::strchr(kAlphabet, c) : nullptr;
        if (!found || padding)
            throw std::invalid_argument("not base64");
        value = value << 6 | static_cast<unsigned>(found - kAlphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(value >> bits));
            value &= (1u << bits) - 1;
        }
    }
    if (padding > 2 || bits >= 6)
        throw std::invalid_argument("not base64");
    return out;
}

} // namespace kiv::kivbook
