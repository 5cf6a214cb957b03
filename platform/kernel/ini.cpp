#include "tessel/kernel/ini.h"

#include <vector>

namespace tessel::platform {

namespace {

struct Line {
    std::size_t begin;  // offset of the line's first byte
    std::size_t end;    // offset just behind its text (before CR LF)
    std::size_t next;   // offset of the following line
};

std::vector<Line> SplitLines(std::string_view s) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t nl = s.find('\n', pos);
        const std::size_t next = nl == std::string_view::npos ? s.size() : nl + 1;
        std::size_t end = nl == std::string_view::npos ? s.size() : nl;
        if (end > pos && s[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

std::string_view Trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// The section a line opens, if it is a section line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
    return Trim(line.substr(1, line.size() - 2));
}

struct Found {
    bool sectionFound = false;
    std::size_t sectionEnd = 0;  // offset behind the section's last line
    std::optional<Line> keyLine;
    std::size_t valueBegin = 0;
};

Found Locate(std::string_view content, std::string_view section, std::string_view key) {
    Found f;
    bool inSection = false;
    for (const Line& l : SplitLines(content)) {
        const std::string_view text = content.substr(l.begin, l.end - l.begin);
        if (const auto s = SectionOf(text)) {
            if (inSection) break;  // the section ended
            inSection = SameName(*s, section);
            if (inSection) {
                f.sectionFound = true;
                f.sectionEnd = l.next;
            }
            continue;
        }
        if (!inSection) continue;
        if (!Trim(text).empty()) f.sectionEnd = l.next;
        const std::size_t eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        if (!f.keyLine && SameName(Trim(text.substr(0, eq)), key)) {
            f.keyLine = l;
            f.valueBegin = l.begin + eq + 1;
        }
    }
    return f;
}

}  // namespace

std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key) {
    const Found f = Locate(content, section, key);
    if (!f.keyLine) return std::nullopt;
    return std::string(Trim(content.substr(f.valueBegin, f.keyLine->end - f.valueBegin)));
}

std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value) {
    const Found f = Locate(content, section, key);
    std::string entry = std::string(key) + "=" + std::string(value);
    std::string out;
    if (f.keyLine) {
        out.append(content.substr(0, f.keyLine->begin));
        out.append(entry);
        out.append(content.substr(f.keyLine->end));
        return out;
    }
    if (f.sectionFound) {
        out.append(content.substr(0, f.sectionEnd));
        if (!out.empty() && out.back() != '\n') out.append("\r\n");
        out.append(entry).append("\r\n");
        out.append(content.substr(f.sectionEnd));
        return out;
    }
    out.append(content);
    if (!out.empty() && out.back() != '\n') out.append("\r\n");
    out.append("[").append(section).append("]\r\n").append(entry).append("\r\n");
    return out;
}

}  // namespace tessel::platform
