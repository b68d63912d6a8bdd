#include "tools/tavikgen/MarkRequest.h"

#include <cerrno>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0') return false;
    *value = v;
    return true;
}

struct KindEntry {
    const char* name;
    MarkRequest::Family family;
    MarkRequest::Kind kind;
    std::set<std::string> fields;
};

const std::vector<KindEntry>& Kinds() {
    using F = MarkRequest::Family;
    using K = MarkRequest::Kind;
    static const std::vector<KindEntry> kinds = {
        {"tesk6-prog", F::Tesk6, K::Program, {"sid", "time", "code", "dist", "dst", "tx", "rep"}},
        {"tesk6-comm",
         F::Tesk6,
         K::Commercial,
         {"sid", "time", "code", "dist", "dst", "tx", "rep"}},
        {"tesk6-rs", F::Tesk6, K::CommercialRs, {"id", "rep"}},
        {"tesk2-prog", F::Tesk2, K::Program, {"sid", "time", "code", "dist", "dst", "rep"}},
        {"tesk2-comm", F::Tesk2, K::Commercial, {"sid", "time", "code", "dist", "dst", "rep"}},
        {"tesk2-rs", F::Tesk2, K::CommercialRs, {"id", "rep"}},
        {"zelt-prog", F::Zelt, K::Program, {"layer", "id", "time", "minute"}},
        {"zelt-comm", F::Zelt, K::CommercialRs, {"id"}},
        {"zelt-flag", F::Zelt, K::Flag, {"value"}},
    };
    return kinds;
}

}  // namespace

std::string MarkRequest::KindName() const {
    const char* f = family == Family::Tesk6   ? "TESK 6"
                    : family == Family::Tesk2 ? "TESK 2"
                                              : "ZELT";
    const char* k = kind == Kind::Program      ? "program"
                    : kind == Kind::Commercial ? "commercial"
                    : kind == Kind::Flag       ? "commercial flag"
                                               : "commercial Reed-Solomon";
    return std::string(f) + " " + k;
}

bool MarkRequest::Parse(const std::string& text, MarkRequest* out, std::string* error) {
    MarkRequest m;
    const size_t c1 = text.find(':');
    if (c1 == std::string::npos) {
        *error = "'" + text + "': expected CHANNEL:KIND[:FIELDS]";
        return false;
    }
    uint64_t channel = 0;
    if (!ParseNumber(text.substr(0, c1), &channel) || channel > 5) {
        *error = "'" + text + "': channel must be 0 to 5";
        return false;
    }
    m.channel = static_cast<int>(channel);
    const size_t c2 = text.find(':', c1 + 1);
    const std::string kindName =
        text.substr(c1 + 1, c2 == std::string::npos ? std::string::npos : c2 - c1 - 1);
    const KindEntry* entry = nullptr;
    for (const auto& k : Kinds()) {
        if (kindName == k.name) entry = &k;
    }
    if (entry == nullptr) {
        *error = "'" + text + "': unknown kind '" + kindName +
                 "' (tesk6-prog, tesk6-comm, tesk6-rs, tesk2-prog, tesk2-comm, tesk2-rs, "
                 "zelt-prog, zelt-comm, zelt-flag)";
        return false;
    }
    m.family = entry->family;
    m.kind = entry->kind;

    std::set<std::string> seen;
    std::string fields = c2 == std::string::npos ? "" : text.substr(c2 + 1);
    size_t start = 0;
    while (start < fields.size()) {
        size_t comma = fields.find(',', start);
        if (comma == std::string::npos) comma = fields.size();
        const std::string item = fields.substr(start, comma - start);
        start = comma + 1;
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key != "ratio" && entry->fields.count(key) == 0) {
            *error = "'" + text + "': " + kindName + " has no field '" + key + "'";
            return false;
        }
        seen.insert(key);
        if (key == "ratio") {
            char* end = nullptr;
            const double r = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0') {
                *error = "'" + text + "': ratio must be a number of dB";
                return false;
            }
            m.ratioDb = r;
            continue;
        }
        uint64_t v = 0;
        if (!ParseNumber(value, &v)) {
            *error = "'" + text + "': " + key + " needs a number";
            return false;
        }
        if (key == "sid") {
            if (v > 0xFFFF) {
                *error = "'" + text + "': sid must be below 65536";
                return false;
            }
            m.sid = v;
        } else if (key == "id" || key == "value") {
            m.id = v;
        } else if (key == "time") {
            m.time = v;
        } else if (key == "code" || key == "minute") {
            m.code = v;
        } else if (key == "dist") {
            if (v > 3) {
                *error = "'" + text + "': dist must be 0 to 3";
                return false;
            }
            m.dist = v;
        } else if (key == "dst") {
            m.dst = v != 0;
        } else if (key == "tx") {
            m.transmission = v != 0;
        } else if (key == "rep") {
            m.repetitions = static_cast<unsigned>(v);
        } else if (key == "layer") {
            if (v != 1 && v != 2 && v != 5) {
                *error = "'" + text + "': ZELT program layer must be 1, 2 or 5";
                return false;
            }
            m.zeltLayer = static_cast<int>(v);
        }
    }
    if (seen.count("time") && seen.count("code")) {
        *error = "'" + text + "': give time or code, not both";
        return false;
    }
    if (seen.count("time") && seen.count("minute")) {
        *error = "'" + text + "': give time or minute, not both";
        return false;
    }
    const bool needsId = m.kind == Kind::CommercialRs || m.kind == Kind::Flag ||
                         (m.family == Family::Zelt && m.kind == Kind::Program);
    if (needsId && !seen.count("id") && !seen.count("value")) {
        *error =
            "'" + text + "': " + kindName + " needs " + (m.kind == Kind::Flag ? "value=" : "id=");
        return false;
    }
    if ((m.family == Family::Tesk6 || m.family == Family::Tesk2) && m.kind != Kind::CommercialRs &&
        !seen.count("sid")) {
        *error = "'" + text + "': " + kindName + " needs sid=";
        return false;
    }
    *out = m;
    return true;
}
