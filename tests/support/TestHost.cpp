#include "tests/support/TestHost.h"

#include <cstdlib>
#include <stdexcept>

namespace strandis::test {

void TestHost::takeBoxes(const StreamBoxes& boxes) {
    for (int slot = 0; slot < 2; ++slot) {
        tick(BoxKind::Video, slot, boxes.video[slot].ticked);
        captions[Index(BoxKind::Video, slot)] = boxes.video[slot].caption;
    }
    for (int slot = 0; slot < 16; ++slot) {
        tick(BoxKind::Audio, slot, boxes.audio[slot].ticked);
        captions[Index(BoxKind::Audio, slot)] = boxes.audio[slot].caption;
        tick(BoxKind::Sub, slot, boxes.sub[slot].ticked);
        captions[Index(BoxKind::Sub, slot)] = boxes.sub[slot].caption;
    }
}

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "strandis-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

}  // namespace strandis::test
