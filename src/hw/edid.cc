#include "hw/edid.h"

#include "util.h"

#include <cstdio>

namespace hw {

namespace {

constexpr size_t block_size = 128;
constexpr size_t descriptor_offsets[] = {54, 72, 90, 108};
constexpr size_t descriptor_size = 18;

const unsigned char header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Descriptor text is ASCII padded with a newline and spaces, but real panels also pad with
// NUL or 0xFF; stopping at the first byte that is not printable keeps the text valid UTF-8.
std::string descriptor_text(const unsigned char* d) {
    std::string text;
    for (size_t i = 5; i < descriptor_size; ++i) {
        unsigned char c = d[i];
        if (c == '\n' || c < 0x20 || c > 0x7E) break;
        text += static_cast<char>(c);
    }
    return util::trim(text);
}

void detailed_timing(const unsigned char* d, unsigned clock, Edid& e) {
    int h_active = d[2] | ((d[4] & 0xF0) << 4);
    int h_blank = d[3] | ((d[4] & 0x0F) << 8);
    int v_active = d[5] | ((d[7] & 0xF0) << 4);
    int v_blank = d[6] | ((d[7] & 0x0F) << 8);
    // Also keeps the division below away from zero.
    if (h_active == 0 || v_active == 0) return;
    double refresh = clock * 10000.0 / (double(h_active + h_blank) * double(v_active + v_blank));
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d × %d @ %.1f Hz", h_active, v_active, refresh);
    e.modes.push_back(buf);
    if (e.pref_width == 0) {
        e.pref_width = h_active;
        e.pref_height = v_active;
        e.pref_refresh = refresh;
    }
}

} // namespace

Edid parse_edid(std::string_view bytes) {
    Edid e;
    if (bytes.size() < block_size) return e;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < sizeof header; ++i)
        if (b[i] != header[i]) return e;
    unsigned sum = 0;
    for (size_t i = 0; i < block_size; ++i)
        sum += b[i];
    if (sum % 256 != 0) return e;

    e.valid = true;
    // Bit 15 is reserved and set by a few old monitors; the letters are bits 14-0.
    unsigned id = (b[8] << 8) | b[9];
    for (int shift : {10, 5, 0})
        e.manufacturer += static_cast<char>('@' + ((id >> shift) & 0x1F));
    e.product_code = static_cast<uint16_t>(b[10] | (b[11] << 8));
    e.serial_number =
        uint32_t(b[12]) | uint32_t(b[13]) << 8 | uint32_t(b[14]) << 16 | uint32_t(b[15]) << 24;
    e.week = b[16];
    if (e.week == 0xFF) {
        e.week = 0;
        e.model_year = true;
    }
    e.year = b[17] + 1990;
    e.version = b[18];
    e.revision = b[19];
    e.digital = (b[20] & 0x80) != 0;
    e.width_cm = b[21];
    e.height_cm = b[22];
    e.gamma = b[23] == 0xFF ? 0.0 : (b[23] + 100) / 100.0;

    for (size_t offset : descriptor_offsets) {
        const unsigned char* d = b + offset;
        unsigned clock = d[0] | (d[1] << 8);
        if (clock != 0) {
            detailed_timing(d, clock, e);
            continue;
        }
        // Some panels leave the first name descriptor empty and fill a later one.
        if (d[3] == 0xFC && e.monitor_name.empty()) e.monitor_name = descriptor_text(d);
        if (d[3] == 0xFF && e.serial_text.empty()) e.serial_text = descriptor_text(d);
    }
    return e;
}

} // namespace hw
