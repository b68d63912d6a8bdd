// Plausibility check of decoded commercial identifiers (35/36-bit commIds of the TESK
// Reed-Solomon layers and of ZELT layer 4).
//
// An identifier is re-encoded in two forms and rejected when its code symbols repeat too much:
//   4-bit form: nibbles d0..d8 (bits 32-35 down to bits 0-3), extended by the (15, 9) code
//     with parity p9..p14. Group A = d0..d4, p9, p10; group B = d5..d8, p11, p12, p13.
//   7-bit form: symbols s0..s4 (bits 28-34 down to bits 0-6), extended by the (7, 5) code to
//     seven symbols.
// Valid when num_repeating_symbols(A) < 3, num_repeating_symbols(B) < 3 and
// num_repeating_symbols(7-bit word) < 2. Identifiers below 1 are invalid, and so are
// identifiers of more than 36 bits (no decoder produces them; their high bits would otherwise
// be ignored). Nothing is allocated; the code set-ups live on the caller's stack.
#pragma once

#include <cstdint>

#include "dsp/ReedSolomon.h"

// Code set-ups used by the validator.
struct CommIdValidateCodes {
    RsCodeParams rs15_9;  // (15, 9) over 4-bit symbols
    RsCodeParams rs11_7;  // (11, 7) over 5-bit symbols (set up for completeness, not used)
    RsCodeParams rs7_5;   // (7, 5) over 7-bit symbols
};

// Symbol buffers of one validation (caller-owned, filled by Comm_ID_Validate_Process).
struct CommIdValidateSymbols {
    uint8_t nibbles[15];  // d0..d8 then p9..p14
    uint8_t sym7[7];      // s0..s4 then the two parity symbols
};

// Sets up the three code parameter blocks.
void Comm_ID_Validate_Init(CommIdValidateCodes* codes);

// Returns 1 when `identifier` is a plausible commercial identifier, else 0. `symbols` receives
// the code words used for the decision (left untouched for identifiers rejected by range).
int Comm_ID_Validate_Process(long identifier, CommIdValidateSymbols* symbols,
                             const CommIdValidateCodes* codes);

// On seven symbols: 99999 when any value occurs three times or more, else the number of
// distinct values that occur exactly twice.
int num_repeating_symbols(const uint8_t* symbols);

// Stateless front end used by the table managers, the detection filters and the ZELT callback.
class CUCCValidator {
public:
    // Builds the code set-ups on the stack and runs Comm_ID_Validate_Process.
    static bool IsValidCommID(long identifier);
};
