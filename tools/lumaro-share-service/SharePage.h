#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ShareStore.h"

namespace share {

// Text made safe to place in HTML, inside elements and quoted attributes.
std::string escapeHtml(std::string_view text);

// The elements of an adjustment record, as (tag, value) pairs in the order
// they appear. Reading stops at the first piece that is not a well-formed
// <TAG>value</TAG> element with a tag of three upper-case letters.
std::vector<std::pair<std::string, std::string>> readAdjustmentRecord(std::string_view record);

// The HTML page of one shared picture: the picture, its description and
// the adjustments it was rendered with. Everything that came from the
// client is escaped.
std::string sharePage(const PictureRecord& record);

}  // namespace share
