#include "common/json.h"

#include <cmath>
#include <cstdio>

#include "common/utf16.h"

namespace mdb {
namespace {

void AppendString(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t start = i;
            if (DecodeUtf8(text, i) < 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(start, i - start));
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

}  // namespace

Json& Json::Set(std::string_view key, Json value) {
    auto& members = std::get<Object>(value_);
    for (auto& [k, v] : members)
        if (k == key) {
            v = std::move(value);
            return *this;
        }
    members.emplace_back(std::string(key), std::move(value));
    return *this;
}

Json& Json::Push(Json value) {
    std::get<Array>(value_).push_back(std::move(value));
    return *this;
}

std::string Json::Dump() const {
    std::string out;
    DumpTo(out);
    return out;
}

void Json::DumpTo(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(value_)) {
        out += "null";
    } else if (const bool* b = std::get_if<bool>(&value_)) {
        out += *b ? "true" : "false";
    } else if (const auto* i = std::get_if<std::int64_t>(&value_)) {
        out += std::to_string(*i);
    } else if (const auto* u = std::get_if<std::uint64_t>(&value_)) {
        out += std::to_string(*u);
    } else if (const double* d = std::get_if<double>(&value_)) {
        if (!std::isfinite(*d)) {
            out += "null";  // JSON has no NaN or infinity
        } else {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.17g", *d);
            out += buf;
        }
    } else if (const auto* s = std::get_if<std::string>(&value_)) {
        AppendString(out, *s);
    } else if (const auto* a = std::get_if<Array>(&value_)) {
        out += '[';
        for (size_t k = 0; k < a->size(); ++k) {
            if (k) out += ',';
            (*a)[k].DumpTo(out);
        }
        out += ']';
    } else {
        const auto& o = std::get<Object>(value_);
        out += '{';
        for (size_t k = 0; k < o.size(); ++k) {
            if (k) out += ',';
            AppendString(out, o[k].first);
            out += ':';
            o[k].second.DumpTo(out);
        }
        out += '}';
    }
}

std::string IsoUtcTime(std::time_t when) {
    std::tm tm{};
#ifdef _WIN32
    if (gmtime_s(&tm, &when) != 0) return {};
#else
    if (gmtime_r(&when, &tm) == nullptr) return {};
#endif
    char buf[32];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return std::string(buf, n);
}

Json JsonDocument(std::string_view command) {
    Json doc = Json::MakeObject();
    doc.Set("schema", kJsonSchemaVersion);
    doc.Set("command", command);
    return doc;
}

}  // namespace mdb
