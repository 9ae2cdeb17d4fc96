#include "axis_types.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <span>

#include "board_tables.h"

namespace {

constexpr std::uint32_t kVendorA = 1511;
constexpr std::uint32_t kVendorB = 1647;
constexpr std::uint32_t kVendorC = 737;

constexpr std::uint32_t kT001 = 0x5e70001;
constexpr std::uint32_t kT002 = 0x5e70002;
constexpr std::uint32_t kT003 = 0x5e70003;
constexpr std::uint32_t kT100 = 0x5e70100;
constexpr std::uint32_t kT101 = 0x5e70101;
constexpr std::uint32_t kT201 = 0x5e70201;
constexpr std::uint32_t kT202 = 0x5e70202;
constexpr std::uint32_t kT204 = 0x5e70204;
constexpr std::uint32_t kTVendorB = 0x66f0100;
constexpr std::uint32_t kTVendorC = 0x2e102ec;

struct ProductType {
    std::uint32_t product;
    std::uint32_t type;
};

constexpr std::array kVendorAProducts{
    ProductType{0x4021001, kT001}, ProductType{0x4022001, kT001}, ProductType{0x4023001, kT001},
    ProductType{0x4023101, kT001}, ProductType{0x1000, kT002},     ProductType{0x4023201, kT003},
    ProductType{0x12343052, kT100}, ProductType{0x12343053, kT101}, ProductType{0x12343056, kT101},
    ProductType{0x4067001, kT201}, ProductType{0x401c001, kT202},  ProductType{0x401c002, kT204},
};

enum class Rule { any, P, Q, C, G, DO, DI, AI, SDO, PR, PA, P9, PE };

constexpr std::uint32_t kWordsP[] = {
    0x10010000, 0x10020000, 0x10030000, 0x10060000, 0x10070000, 0x10080000, 0x100c0000, 0x100d0000, 0x10100000,
    0x10110000, 0x10120000, 0x10130000, 0x10200001, 0x102a0001, 0x10300001, 0x10330001, 0x10360001, 0x20160001,
    0x500a0001, 0x500c0001, 0x50200001, 0x50220001, 0x50240001, 0x600a0001, 0x600d0001, 0x600f0001, 0x60220001,
    0x60240001, 0x60260001, 0x60290001};
constexpr std::uint32_t kWordsQ[] = {0x10180000, 0x10340001, 0x10350001, 0x10390001};
constexpr std::uint32_t kWordsC[] = {
    0x10210001, 0x10220001, 0x10230001, 0x10240001, 0x10250001, 0x10260001, 0x10270001, 0x10280001, 0x200e0001,
    0x200f0001, 0x20100001, 0x20110001, 0x20120001, 0x50100001, 0x50110001, 0x50120001, 0x50130001, 0x501e0001,
    0x501f0001, 0x50210001, 0x60170001, 0x60180001, 0x60230001};
constexpr std::uint32_t kWordsG[] = {
    0x20010000, 0x20020000, 0x20030000, 0x20040000, 0x20050000, 0x20060000, 0x20070000, 0x20080000, 0x20090000,
    0x200d0001, 0x20130001, 0x20140001, 0x20150001, 0x20170001, 0x500b0001, 0x50250001, 0x600b0001, 0x600e0001,
    0x60130001, 0x602a0001};
constexpr std::uint32_t kWordsDO[] = {0x40180001, 0x40190001};
constexpr std::uint32_t kWordsDI[] = {0x401a0001};
constexpr std::uint32_t kWordsAI[] = {0x401b0001};
constexpr std::uint32_t kWordsSDO[] = {0x40150001, 0x40160001, 0x40170001};
constexpr std::uint32_t kWordsPR[] = {0x100e0000, 0x100f0000, 0x100f0001};
constexpr std::uint32_t kWordsPA[] = {0x102b0001, 0x102c0001, 0x102d0001};
constexpr std::uint32_t kWordsP9[] = {0x10290001};
constexpr std::uint32_t kWordsPE[] = {0x102e0001, 0x102f0001};

struct RuleWords {
    Rule rule;
    std::span<const std::uint32_t> words;
};

constexpr RuleWords kRules[] = {
    {Rule::P, kWordsP},
    {Rule::Q, kWordsQ},
    {Rule::C, kWordsC},
    {Rule::G, kWordsG},
    {Rule::DO, kWordsDO},
    {Rule::DI, kWordsDI},
    {Rule::AI, kWordsAI},
    {Rule::SDO, kWordsSDO},
    {Rule::PR, kWordsPR},
    {Rule::PA, kWordsPA},
    {Rule::P9, kWordsP9},
    {Rule::PE, kWordsPE},
};

Rule RuleOf(std::uint32_t command) {
    for (const RuleWords &r : kRules) {
        if (std::find(r.words.begin(), r.words.end(), command) != r.words.end()) {
            return r.rule;
        }
    }
    return Rule::any;
}

bool OneOf(std::uint32_t t, std::initializer_list<std::uint32_t> types) {
    return std::find(types.begin(), types.end(), t) != types.end();
}

bool IsLinkedType(std::uint32_t t) { return OneOf(t, {kT201, kT202, kT204}); }

int GroupSupported(std::uint32_t group) {
    int entry = McFindGroupEntry(group + 1);
    if (entry < 0) {
        return -1;
    }
    auto e = static_cast<std::uint32_t>(entry);
    for (std::uint32_t k = 0; k < McGroupMemberCount(e); ++k) {
        std::uint32_t index = McGroupMemberIndex(e, k);
        if (index != mc::kNoAxis && IsLinkedType(McAxisTypeFromSlaveId(index))) {
            return 0;
        }
    }
    return 1;
}

}  // namespace

std::uint32_t McAxisTypeFromSlaveId(std::uint32_t index) {
    index &= 0xFFFFu;
    if (index >= mc::kMaxAxes) {
        return kAxisTypeNone;  // read as an empty record
    }
    const McSlaveRecord &slave = g_SlaveTable[index];
    switch (slave.vendorId) {
    case 0:
        return kAxisTypeNone;
    case kVendorA:
        for (const ProductType &p : kVendorAProducts) {
            if (p.product == slave.productCode) {
                return p.type;
            }
        }
        return kAxisTypeUnknown;
    case kVendorB:
        return kTVendorB;
    case kVendorC:
        return kTVendorC;
    default:
        return kAxisTypeUnknown;
    }
}

int McIsCommandSupported(std::uint32_t target, std::uint32_t command) {
    Rule rule = RuleOf(command);
    if (rule == Rule::G) {
        return GroupSupported(target);
    }
    std::uint32_t t = McAxisTypeFromSlaveId(target);
    bool supported = true;
    switch (rule) {
    case Rule::any:
    case Rule::G:
        break;
    case Rule::P:
        supported = !IsLinkedType(t);
        break;
    case Rule::Q:
        supported = !OneOf(t, {kT001, kT002, kT003, kT201, kT202, kT204});
        break;
    case Rule::C:
        supported = OneOf(t, {kT202, kT204});
        break;
    case Rule::DO:
        supported = !OneOf(t, {kAxisTypeNone, kT001, kT003, kT202, kAxisTypeUnknown});
        break;
    case Rule::DI:
        supported = !OneOf(t, {kAxisTypeNone, kT202, kAxisTypeUnknown});
        break;
    case Rule::AI:
        supported = false;
        break;
    case Rule::SDO:
        supported = t == kT101;
        break;
    case Rule::PR:
        supported = !OneOf(t, {kAxisTypeNone, kT001, kT003, kT100});
        break;
    case Rule::PA:
        supported = t == kT003;
        break;
    case Rule::P9:
        supported = !OneOf(t, {kAxisTypeNone, kT201, kT202, kT204});
        break;
    case Rule::PE:
        supported = OneOf(t, {kT003, kT101, kTVendorB});
        break;
    }
    return supported ? 1 : 0;
}
