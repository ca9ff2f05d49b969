#include "SharePage.h"

#include <array>
#include <cctype>

namespace share {
namespace {

struct Element {
    std::string_view tag;
    std::string_view label;
};

// The record's elements in the order the page lists them.
constexpr std::array<Element, 19> kElements{{
    {"COL", "Tone"},
    {"COR", "Tint red"},
    {"COG", "Tint green"},
    {"COB", "Tint blue"},
    {"FIL", "Colour filter"},
    {"LSI", "Light"},
    {"DSI", "Dark"},
    {"TRL", "Red light"},
    {"TGL", "Green light"},
    {"TBL", "Blue light"},
    {"TRS", "Red dark"},
    {"TGS", "Green dark"},
    {"TBS", "Blue dark"},
    {"EXP", "Exposure"},
    {"MAL", "Blend with colour"},
    {"NOI", "Noise"},
    {"QUA", "Quantisation"},
    {"INV", "Inverted"},
    {"VIG", "Vignette radius"},
}};

bool isTag(std::string_view tag) {
    if (tag.size() != 3) return false;
    for (char c : tag) {
        if (c < 'A' || c > 'Z') return false;
    }
    return true;
}

}  // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            case '\0':
                out += "&#xFFFD;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> readAdjustmentRecord(std::string_view record) {
    std::vector<std::pair<std::string, std::string>> elements;
    std::size_t at = 0;
    while (at < record.size()) {
        if (record.size() - at < 5 || record[at] != '<' || record[at + 4] != '>') break;
        const std::string_view tag = record.substr(at + 1, 3);
        if (!isTag(tag)) break;
        const std::string closing = "</" + std::string(tag) + ">";
        const std::size_t end = record.find(closing, at + 5);
        if (end == std::string_view::npos) break;
        elements.emplace_back(std::string(tag), std::string(record.substr(at + 5, end - at - 5)));
        at = end + closing.size();
    }
    return elements;
}

std::string sharePage(const PictureRecord& record) {
    const std::string title = record.description.empty() ? std::string("A picture made with Lumaro")
                                                         : escapeHtml(record.description);
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>" +
        title +
        " - Lumaro</title>\n"
        "<style>body{font-family:sans-serif;max-width:820px;margin:2em auto;padding:0 1em;"
        "color:#222}img{max-width:100%;height:auto;display:block;margin:0 auto}"
        "p.description{white-space:pre-wrap;font-size:1.2em}"
        "dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}"
        "dt{color:#666}dd{margin:0}</style>\n</head>\n<body>\n";
    page += "<img src=\"/p/" + escapeHtml(record.id) + ".png\" width=\"" +
            std::to_string(record.width) + "\" height=\"" + std::to_string(record.height) +
            "\" alt=\"" + title + "\">\n";
    if (!record.description.empty()) {
        page += "<p class=\"description\">" + escapeHtml(record.description) + "</p>\n";
    }
    const auto elements = readAdjustmentRecord(record.adjustments);
    std::string list;
    for (const Element& element : kElements) {
        for (const auto& [tag, value] : elements) {
            if (tag != element.tag || value.empty()) continue;
            list +=
                "<dt>" + std::string(element.label) + "</dt><dd>" + escapeHtml(value) + "</dd>\n";
            break;
        }
    }
    if (!list.empty()) page += "<h2>Adjustments</h2>\n<dl>\n" + list + "</dl>\n";
    page += "<p><small>Made with Lumaro.</small></p>\n</body>\n</html>\n";
    return page;
}

}  // namespace share
