#include "testkit/HdDvdUnit.h"

#include "testkit/BitWriter.h"

namespace strandis::test {

namespace {

void Put32(Bytes& to, std::uint32_t value) {
    for (int k = 3; k >= 0; --k)
        to.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

void Put32At(Bytes& to, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        to[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
}

Bytes Field(const HdDvdCaption& c, int first) {
    Bytes out;
    for (int line = first; line < c.height; line += 2) {
        BitWriter bits;
        const std::uint8_t* row =
            c.pixels.data() + static_cast<std::size_t>(line) * static_cast<std::size_t>(c.width);
        for (int x = 0; x < c.width;) {
            int same = 1;
            while (x + same < c.width && row[x + same] == row[x])
                ++same;
            const bool toEnd = x + same == c.width && same >= 10;
            const int take = toEnd ? same : std::min(same, 136);
            const std::uint8_t colour = row[x];
            const bool wide = colour > 3 || c.allEightBit;
            bits.put(take > 1 ? 1 : 0, 1).put(wide ? 1 : 0, 1).put(colour, wide ? 8 : 2);
            if (toEnd) {
                bits.put(1, 1).put(0, 7);
            } else if (take >= 10) {
                bits.put(1, 1).put(static_cast<std::uint64_t>(take - 9), 7);
            } else if (take >= 2) {
                bits.put(0, 1).put(static_cast<std::uint64_t>(take - 2), 3);
            }
            x += take;
        }
        const Bytes bytes = bits.take();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

}  // namespace

Bytes MakeHdDvdUnit(const HdDvdCaption& c) {
    Bytes unit{0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes even = Field(c, 0), odd = Field(c, 1);
    const std::uint32_t evenAt = 10;
    const auto oddAt = static_cast<std::uint32_t>(evenAt + even.size());
    unit.insert(unit.end(), even.begin(), even.end());
    unit.insert(unit.end(), odd.begin(), odd.end());
    Put32At(unit, 6, static_cast<std::uint32_t>(unit.size()));

    // The start sequence; the place of the next one is filled in when it is known.
    std::size_t nextField = unit.size() + 2;
    unit.insert(unit.end(), {static_cast<std::uint8_t>(c.startDelay >> 8),
                             static_cast<std::uint8_t>(c.startDelay), 0, 0, 0, 0});
    unit.push_back(c.forced ? 0x00 : 0x01);
    unit.push_back(0x83);
    for (const auto& entry : c.palette)
        unit.insert(unit.end(), entry.begin(), entry.end());
    unit.push_back(0x84);
    unit.insert(unit.end(), c.transparency.begin(), c.transparency.end());
    const auto x2 = static_cast<std::uint32_t>(c.x + c.width - 1);
    const auto y2 = static_cast<std::uint32_t>(c.y + c.height - 1);
    const auto x1 = static_cast<std::uint32_t>(c.x), y1 = static_cast<std::uint32_t>(c.y);
    unit.insert(unit.end(), {0x85, static_cast<std::uint8_t>(x1 >> 4),
                             static_cast<std::uint8_t>(((x1 & 0xF) << 4) | (x2 >> 8)),
                             static_cast<std::uint8_t>(x2), static_cast<std::uint8_t>(y1 >> 4),
                             static_cast<std::uint8_t>(((y1 & 0xF) << 4) | (y2 >> 8)),
                             static_cast<std::uint8_t>(y2), 0x86});
    Put32(unit, evenAt);
    Put32(unit, oddAt);
    unit.push_back(0xFF);
    const auto sequence = [&](std::uint16_t delay) {
        Put32At(unit, nextField, static_cast<std::uint32_t>(unit.size()));
        nextField = unit.size() + 2;
        unit.insert(unit.end(), {static_cast<std::uint8_t>(delay >> 8),
                                 static_cast<std::uint8_t>(delay), 0, 0, 0, 0});
    };
    if (c.fade) {
        sequence(c.fade->first);
        unit.push_back(0x84);
        unit.insert(unit.end(), c.fade->second.begin(), c.fade->second.end());
        unit.push_back(0xFF);
    }
    if (c.stopDelay) {
        sequence(*c.stopDelay);
        unit.insert(unit.end(), {0x02, 0xFF});
    }
    // The last sequence points to itself.
    Put32At(unit, nextField, static_cast<std::uint32_t>(nextField - 2));
    Put32At(unit, 2, static_cast<std::uint32_t>(unit.size()));
    return unit;
}

}  // namespace strandis::test
