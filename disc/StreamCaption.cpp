#include "disc/StreamCaption.h"

#include "ps/StreamIdTable.h"

namespace strandis {

namespace {

std::string Caption(StreamKind kind, std::int32_t id) {
    const IdRange* range = FindInventoryRange(kind, id);
    return range != nullptr ? std::string(range->caption) : std::string();
}

}  // namespace

std::string VideoCaption(std::int32_t id) {
    return Caption(StreamKind::Video, id);
}
std::string AudioCaption(std::int32_t id, bool plainAc3) {
    const IdRange* range = FindInventoryRange(StreamKind::Audio, id);
    if (range == nullptr) return {};
    return plainAc3 && range->codec == Codec::Eac3 ? "DD.stream" : std::string(range->caption);
}
std::string SubCaption(std::int32_t id) {
    return Caption(StreamKind::Sub, id);
}

std::string VideoSuffix(int slot) {
    return "." + std::to_string(slot);
}

std::string TwoDigitSuffix(int slot) {
    return {'.', static_cast<char>('0' + slot / 10), static_cast<char>('0' + slot % 10)};
}

}  // namespace strandis
