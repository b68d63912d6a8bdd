// Commercial identifier plausibility check (see dsp/CUCCValidator.h).
#include "dsp/CUCCValidator.h"

namespace {

// The 4-bit form covers bits 0-35; nothing above can come from a decoded identifier.
constexpr long kMaxIdentifier = (1L << 36) - 1;

}  // namespace

void Comm_ID_Validate_Init(CommIdValidateCodes* codes) {
    RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
            RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &codes->rs15_9);
    RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &codes->rs11_7);
    RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF, RS_7_5_TABLES_LOOKUPGFINV,
            RS_7_5_TABLES_LOOKUPGFREV, &codes->rs7_5);
}

int num_repeating_symbols(const uint8_t* symbols) {
    int pairs = 0;
    for (int i = 0; i < 7; ++i) {
        bool seenBefore = false;
        for (int j = 0; j < i; ++j) seenBefore = seenBefore || symbols[j] == symbols[i];
        if (seenBefore) continue;  // count each distinct value once
        int count = 1;
        for (int j = i + 1; j < 7; ++j) count += symbols[j] == symbols[i] ? 1 : 0;
        if (count >= 3) return 99999;
        if (count == 2) ++pairs;
    }
    return pairs;
}

int Comm_ID_Validate_Process(long identifier, CommIdValidateSymbols* symbols,
                             const CommIdValidateCodes* codes) {
    if (identifier < 1 || identifier > kMaxIdentifier) return 0;
    const unsigned long id = static_cast<unsigned long>(identifier);

    // 4-bit form: d0 = bits 32-35 ... d8 = bits 0-3, parity p9..p14 behind the data.
    uint8_t* d = symbols->nibbles;
    for (int i = 0; i < 9; ++i) d[i] = static_cast<uint8_t>((id >> (32 - 4 * i)) & 0xF);
    RS_Encode(d, 9, d + 9, &codes->rs15_9);
    const uint8_t groupA[7] = {d[0], d[1], d[2], d[3], d[4], d[9], d[10]};
    const uint8_t groupB[7] = {d[5], d[6], d[7], d[8], d[11], d[12], d[13]};

    // 7-bit form: s0 = bits 28-34 ... s4 = bits 0-6, two parity symbols behind.
    uint8_t* s = symbols->sym7;
    for (int i = 0; i < 5; ++i) s[i] = static_cast<uint8_t>((id >> (28 - 7 * i)) & 0x7F);
    RS_Encode(s, 5, s + 5, &codes->rs7_5);

    return num_repeating_symbols(groupA) < 3 && num_repeating_symbols(groupB) < 3 &&
                   num_repeating_symbols(s) < 2
               ? 1
               : 0;
}

bool CUCCValidator::IsValidCommID(long identifier) {
    CommIdValidateCodes codes;
    CommIdValidateSymbols symbols;
    Comm_ID_Validate_Init(&codes);
    return Comm_ID_Validate_Process(identifier, &symbols, &codes) != 0;
}
