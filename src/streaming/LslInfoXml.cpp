#include "streaming/LslInfoXml.h"

#include <charconv>
#include <cstddef>
#include <system_error>

namespace tamix {
namespace {

bool IsXmlName(std::string_view name) {
    if (name.empty()) return false;
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (!letter(name[0])) return false;
    for (const char c : name) {
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
    }
    // Names beginning with "xml" are reserved by XML itself.
    return !(name.size() >= 3 && (name[0] == 'x' || name[0] == 'X') &&
             (name[1] == 'm' || name[1] == 'M') && (name[2] == 'l' || name[2] == 'L'));
}

void Element(std::string& out, int depth, std::string_view name, std::string_view text) {
    out.append(static_cast<std::size_t>(depth), '\t');
    out += '<';
    out += name;
    if (text.empty()) {
        // The inlet's XML reader takes an empty element either way.
        out += " />\n";
        return;
    }
    out += '>';
    out += XmlEscaped(text);
    out += "</";
    out += name;
    out += ">\n";
}

void Open(std::string& out, int depth, std::string_view name) {
    out.append(static_cast<std::size_t>(depth), '\t');
    out += '<';
    out += name;
    out += ">\n";
}

void Close(std::string& out, int depth, std::string_view name) {
    out.append(static_cast<std::size_t>(depth), '\t');
    out += "</";
    out += name;
    out += ">\n";
}

void Desc(std::string& out, const LslStreamDescription& d) {
    const bool empty =
        d.channels.empty() && d.manufacturer.empty() && d.model.empty() && d.extra.empty();
    if (empty) {
        Element(out, 1, "desc", "");
        return;
    }
    Open(out, 1, "desc");
    if (!d.channels.empty()) {
        Open(out, 2, "channels");
        for (const LslChannel& c : d.channels) {
            Open(out, 3, "channel");
            Element(out, 4, "label", c.label);
            Element(out, 4, "unit", c.unit);
            Element(out, 4, "type", c.type);
            for (const LslField& f : c.extra) Element(out, 4, f.name, f.value);
            Close(out, 3, "channel");
        }
        Close(out, 2, "channels");
    }
    if (!d.manufacturer.empty() || !d.model.empty()) {
        Open(out, 2, "acquisition");
        Element(out, 3, "manufacturer", d.manufacturer);
        Element(out, 3, "model", d.model);
        Close(out, 2, "acquisition");
    }
    for (const LslField& f : d.extra) Element(out, 2, f.name, f.value);
    Close(out, 1, "desc");
}

std::string Unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find(';', i);
        if (end == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        const std::string_view entity = text.substr(i + 1, end - i - 1);
        if (entity == "amp") {
            out += '&';
        } else if (entity == "lt") {
            out += '<';
        } else if (entity == "gt") {
            out += '>';
        } else if (entity == "quot") {
            out += '"';
        } else if (entity == "apos") {
            out += '\'';
        } else if (entity.size() > 1 && entity[0] == '#') {
            unsigned code = 0;
            const bool hex = entity[1] == 'x';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
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
        } else {
            out += text.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

// The children of an element's content as (name, inner text) pairs, one level deep.
std::vector<std::pair<std::string, std::string_view>> Children(std::string_view content) {
    std::vector<std::pair<std::string, std::string_view>> children;
    std::size_t pos = 0;
    while ((pos = content.find('<', pos)) != std::string_view::npos) {
        if (pos + 1 < content.size() &&
            (content[pos + 1] == '/' || content[pos + 1] == '?' || content[pos + 1] == '!')) {
            const std::size_t skip = content.find('>', pos);
            if (skip == std::string_view::npos) break;
            pos = skip + 1;
            continue;
        }
        const std::size_t tagEnd = content.find('>', pos);
        if (tagEnd == std::string_view::npos) break;
        std::string_view tag = content.substr(pos + 1, tagEnd - pos - 1);
        const bool selfClosing = !tag.empty() && tag.back() == '/';
        if (selfClosing) tag.remove_suffix(1);
        const std::size_t space = tag.find_first_of(" \t\r\n");
        const std::string name(tag.substr(0, space));
        if (selfClosing) {
            children.emplace_back(name, std::string_view());
            pos = tagEnd + 1;
            continue;
        }
        // Nested elements of the same name are not part of the info's layout.
        const std::string closing = "</" + name + ">";
        const std::size_t close = content.find(closing, tagEnd + 1);
        if (close == std::string_view::npos) break;
        children.emplace_back(name, content.substr(tagEnd + 1, close - tagEnd - 1));
        pos = close + closing.size();
    }
    return children;
}

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return Unescaped(text.substr(first, last - first + 1));
}

double NumberOf(const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

}  // namespace

const char* LslFormatName(LslFormat format) {
    return format == LslFormat::String ? "string" : "float32";
}

bool CheckDescription(const LslStreamDescription& d, std::string& error) {
    if (d.name.empty()) {
        error = "a stream needs a name";
        return false;
    }
    if (d.channelCount < 1 || (d.format == LslFormat::String && d.channelCount != 1)) {
        error = "stream \"" + d.name + "\": " + std::to_string(d.channelCount) +
                " channels do not fit a " + LslFormatName(d.format) + " stream";
        return false;
    }
    if (!d.channels.empty() && static_cast<int>(d.channels.size()) != d.channelCount) {
        error = "stream \"" + d.name + "\": " + std::to_string(d.channels.size()) +
                " channel descriptions for " + std::to_string(d.channelCount) + " channels";
        return false;
    }
    if (!(d.nominalRate >= 0) || d.nominalRate > 1e9) {
        error = "stream \"" + d.name + "\": the nominal rate is not a number of scans per second";
        return false;
    }
    std::vector<const LslField*> fields;
    for (const LslField& f : d.extra) fields.push_back(&f);
    for (const LslChannel& c : d.channels) {
        for (const LslField& f : c.extra) fields.push_back(&f);
    }
    for (const LslField* f : fields) {
        if (!IsXmlName(f->name)) {
            error = "stream \"" + d.name + "\": \"" + f->name + "\" is no XML element name";
            return false;
        }
    }
    return true;
}

std::string XmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            // XML 1.0 has no way to carry these.
        } else {
            out += c;
        }
    }
    return out;
}

std::string LslNumberText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::map<std::string, std::string> LslInfoFields(const LslStreamDescription& d,
                                                 const LslStreamIdentity& id) {
    return {
        {"name", d.name},
        {"type", d.type},
        {"channel_count", std::to_string(d.channelCount)},
        {"channel_format", LslFormatName(d.format)},
        {"source_id", d.sourceId},
        {"nominal_srate", LslNumberText(d.nominalRate)},
        {"version", "1.1000000000000001"},
        {"created_at", LslNumberText(id.createdAt)},
        {"uid", id.uid},
        {"session_id", id.sessionId},
        {"hostname", id.hostname},
        {"v4address", ""},
        {"v4data_port", std::to_string(id.v4DataPort)},
        {"v4service_port", std::to_string(id.v4ServicePort)},
        {"v6address", ""},
        {"v6data_port", "0"},
        {"v6service_port", "0"},
    };
}

std::string LslInfoXml(const LslStreamDescription& d, const LslStreamIdentity& id, bool full) {
    // The order of liblsl's own info, which some readers expect.
    static constexpr const char* kOrder[] = {"name",           "type",           "channel_count",
                                             "channel_format", "source_id",      "nominal_srate",
                                             "version",        "created_at",     "uid",
                                             "session_id",     "hostname",       "v4address",
                                             "v4data_port",    "v4service_port", "v6address",
                                             "v6data_port",    "v6service_port"};
    const std::map<std::string, std::string> fields = LslInfoFields(d, id);
    std::string out = "<?xml version=\"1.0\"?>\n<info>\n";
    for (const char* name : kOrder) Element(out, 1, name, fields.at(name));
    if (full) {
        Desc(out, d);
    } else {
        Element(out, 1, "desc", "");
    }
    out += "</info>\n";
    return out;
}

std::string LslParsedInfo::Field(const std::string& name) const {
    const auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

bool ParseLslInfo(std::string_view xml, LslParsedInfo& info) {
    info = {};
    std::string_view content;
    bool found = false;
    for (const auto& [name, inner] : Children(xml)) {
        if (name == "info") {
            content = inner;
            found = true;
            break;
        }
    }
    if (!found) return false;
    for (const auto& [name, inner] : Children(content)) {
        if (name != "desc") {
            info.fields.emplace(name, Trimmed(inner));
            continue;
        }
        for (const auto& [part, partInner] : Children(inner)) {
            if (part == "channels") {
                for (const auto& [tag, channel] : Children(partInner)) {
                    if (tag != "channel") continue;
                    LslChannel c;
                    for (const auto& [key, value] : Children(channel)) {
                        if (key == "label") {
                            c.label = Trimmed(value);
                        } else if (key == "unit") {
                            c.unit = Trimmed(value);
                        } else if (key == "type") {
                            c.type = Trimmed(value);
                        } else {
                            c.extra.push_back({key, Trimmed(value)});
                        }
                    }
                    info.channels.push_back(std::move(c));
                }
            } else if (part == "acquisition") {
                for (const auto& [key, value] : Children(partInner)) {
                    if (key == "manufacturer") info.manufacturer = Trimmed(value);
                    if (key == "model") info.model = Trimmed(value);
                }
            }
        }
    }
    info.channelCount = static_cast<int>(NumberOf(info.Field("channel_count")));
    info.nominalRate = NumberOf(info.Field("nominal_srate"));
    info.v4DataPort = static_cast<uint16_t>(NumberOf(info.Field("v4data_port")));
    info.v4ServicePort = static_cast<uint16_t>(NumberOf(info.Field("v4service_port")));
    return true;
}

}  // namespace tamix
