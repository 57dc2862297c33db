#include "text_key.h"

namespace jet {

bool TextKeysSupported(TextSortOrder) {
    return false;
}

void AppendTextKey(TextSortOrder, Bytes, bool, bool, std::vector<std::uint8_t>&) {}

}  // namespace jet
