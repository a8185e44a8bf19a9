#include "backends/linux/XkbKeyCodes.h"

#include <array>
#include <utility>

namespace XkbKeyCodes {

namespace {

struct Pair {
    std::int64_t virtualKeyCode;
    std::uint8_t xkbKeyCode; // 0: none
};

// mac_code, x11_keycode of keycodes.tsv, sorted by mac_code.
constexpr Pair table[] = {
    {0, 38},    // ANSI_A
    {1, 39},    // ANSI_S
    {2, 40},    // ANSI_D
    {3, 41},    // ANSI_F
    {4, 43},    // ANSI_H
    {5, 42},    // ANSI_G
    {6, 52},    // ANSI_Z
    {7, 53},    // ANSI_X
    {8, 54},    // ANSI_C
    {9, 55},    // ANSI_V
    {10, 94},   // ISO_Section
    {11, 56},   // ANSI_B
    {12, 24},   // ANSI_Q
    {13, 25},   // ANSI_W
    {14, 26},   // ANSI_E
    {15, 27},   // ANSI_R
    {16, 29},   // ANSI_Y
    {17, 28},   // ANSI_T
    {18, 10},   // ANSI_1
    {19, 11},   // ANSI_2
    {20, 12},   // ANSI_3
    {21, 13},   // ANSI_4
    {22, 15},   // ANSI_6
    {23, 14},   // ANSI_5
    {24, 21},   // ANSI_Equal
    {25, 18},   // ANSI_9
    {26, 16},   // ANSI_7
    {27, 20},   // ANSI_Minus
    {28, 17},   // ANSI_8
    {29, 19},   // ANSI_0
    {30, 35},   // ANSI_RightBracket
    {31, 32},   // ANSI_O
    {32, 30},   // ANSI_U
    {33, 34},   // ANSI_LeftBracket
    {34, 31},   // ANSI_I
    {35, 33},   // ANSI_P
    {36, 36},   // Return
    {37, 46},   // ANSI_L
    {38, 44},   // ANSI_J
    {39, 48},   // ANSI_Quote
    {40, 45},   // ANSI_K
    {41, 47},   // ANSI_Semicolon
    {42, 51},   // ANSI_Backslash
    {43, 59},   // ANSI_Comma
    {44, 61},   // ANSI_Slash
    {45, 57},   // ANSI_N
    {46, 58},   // ANSI_M
    {47, 60},   // ANSI_Period
    {48, 23},   // Tab
    {49, 65},   // Space
    {50, 49},   // ANSI_Grave
    {51, 22},   // Delete
    {53, 9},    // Escape
    {54, 134},  // RightCommand
    {55, 133},  // Command
    {56, 50},   // Shift
    {57, 66},   // CapsLock
    {58, 64},   // Option
    {59, 37},   // Control
    {60, 62},   // RightShift
    {61, 108},  // RightOption
    {62, 105},  // RightControl
    {63, 0},    // Function
    {64, 195},  // F17
    {65, 91},   // ANSI_KeypadDecimal
    {67, 63},   // ANSI_KeypadMultiply
    {69, 86},   // ANSI_KeypadPlus
    {71, 77},   // ANSI_KeypadClear
    {72, 123},  // VolumeUp
    {73, 122},  // VolumeDown
    {74, 121},  // Mute
    {75, 106},  // ANSI_KeypadDivide
    {76, 104},  // ANSI_KeypadEnter
    {78, 82},   // ANSI_KeypadMinus
    {79, 196},  // F18
    {80, 197},  // F19
    {81, 125},  // ANSI_KeypadEquals
    {82, 90},   // ANSI_Keypad0
    {83, 87},   // ANSI_Keypad1
    {84, 88},   // ANSI_Keypad2
    {85, 89},   // ANSI_Keypad3
    {86, 83},   // ANSI_Keypad4
    {87, 84},   // ANSI_Keypad5
    {88, 85},   // ANSI_Keypad6
    {89, 79},   // ANSI_Keypad7
    {90, 198},  // F20
    {91, 80},   // ANSI_Keypad8
    {92, 81},   // ANSI_Keypad9
    {93, 132},  // JIS_Yen
    {94, 97},   // JIS_Underscore
    {95, 129},  // JIS_KeypadComma
    {96, 71},   // F5
    {97, 72},   // F6
    {98, 73},   // F7
    {99, 69},   // F3
    {100, 74},  // F8
    {101, 75},  // F9
    {102, 131}, // JIS_Eisu
    {103, 95},  // F11
    {104, 130}, // JIS_Kana
    {105, 191}, // F13
    {106, 194}, // F16
    {107, 192}, // F14
    {109, 76},  // F10
    {111, 96},  // F12
    {113, 193}, // F15
    {114, 118}, // Help
    {115, 110}, // Home
    {116, 112}, // PageUp
    {117, 119}, // ForwardDelete
    {118, 70},  // F4
    {119, 115}, // End
    {120, 68},  // F2
    {121, 117}, // PageDown
    {122, 67},  // F1
    {123, 113}, // LeftArrow
    {124, 114}, // RightArrow
    {125, 116}, // DownArrow
    {126, 111}, // UpArrow
};

// Keys that only map back: a true Help key, PrintScreen/ScrollLock/Pause (F13-F15 on
// the other system), Muhenkan/Henkan of PC JIS keyboards, and the JIS keypad comma.
constexpr Pair reverseAliases[] = {
    {114, 146}, {105, 107}, {107, 78}, {113, 127}, {102, 102}, {104, 100}, {95, 103},
};

} // namespace

std::optional<std::uint8_t> xkbKeyCode(std::int64_t virtualKeyCode) {
    for (const Pair& pair : table) {
        if (pair.virtualKeyCode == virtualKeyCode)
            return pair.xkbKeyCode == 0 ? std::nullopt : std::optional(pair.xkbKeyCode);
    }
    return std::nullopt;
}

std::optional<std::int64_t> virtualKeyCode(std::uint32_t xkbKeyCode) {
    if (xkbKeyCode == 0 || xkbKeyCode > 255)
        return std::nullopt;
    for (const Pair& pair : table) {
        if (pair.xkbKeyCode == xkbKeyCode)
            return pair.virtualKeyCode;
    }
    for (const Pair& pair : reverseAliases) {
        if (pair.xkbKeyCode == xkbKeyCode)
            return pair.virtualKeyCode;
    }
    return std::nullopt;
}

} // namespace XkbKeyCodes
