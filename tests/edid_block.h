// EDID base blocks for the tests, built from the VESA layout.
#pragma once

#include <algorithm>
#include <string>

// A valid EDID 1.4 base block: DEL, product 0xA0B9, week 11 of 2019, digital, 53 × 30 cm,
// gamma 2.20, and four empty descriptor slots ("dummy" tag 0x10).
class EdidBlock {
public:
    EdidBlock() : m_b(128, '\0') {
        const unsigned char head[24] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00,
                                        0x10, 0xAC, 0xB9, 0xA0, 0,    0,    0,    0,
                                        11,   29,   1,    4,    0xA5, 53,   30,   120};
        for (size_t i = 0; i < sizeof head; ++i)
            set(i, head[i]);
        for (int slot = 0; slot < 4; ++slot)
            text(slot, 0x10, "");
    }
    EdidBlock& set(size_t i, unsigned v) {
        m_b[i] = static_cast<char>(v);
        return *this;
    }
    // Pixel clock in 10 kHz units, active and blanking sizes.
    EdidBlock& timing(int slot, unsigned clock, unsigned ha, unsigned hb, unsigned va,
                      unsigned vb) {
        size_t d = 54 + 18 * static_cast<size_t>(slot);
        m_b.replace(d, 18, 18, '\0');
        set(d, clock & 0xFF).set(d + 1, clock >> 8);
        set(d + 2, ha & 0xFF).set(d + 3, hb & 0xFF).set(d + 4, (ha >> 8) << 4 | (hb >> 8));
        return set(d + 5, va & 0xFF).set(d + 6, vb & 0xFF).set(d + 7, (va >> 8) << 4 | (vb >> 8));
    }
    // A display descriptor with up to 13 bytes of payload taken as given.
    EdidBlock& text(int slot, unsigned tag, const std::string& payload) {
        size_t d = 54 + 18 * static_cast<size_t>(slot);
        m_b.replace(d, 18, 18, '\0');
        size_t n = std::min<size_t>(payload.size(), 13);
        m_b.replace(d + 5, n, payload, 0, n);
        return set(d + 3, tag);
    }
    // With the checksum byte that makes the block sum to 0 modulo 256.
    std::string bytes() const {
        std::string b = m_b;
        unsigned sum = 0;
        for (size_t i = 0; i < 127; ++i)
            sum += static_cast<unsigned char>(b[i]);
        b[127] = static_cast<char>((256 - sum % 256) % 256);
        return b;
    }

private:
    std::string m_b;
};
